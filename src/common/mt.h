// MT19937 Mersenne Twister: the one random generator of the simulation.
#pragma once
#include <stdint.h>

void     mt_seed(uint32_t seed);
uint32_t mt_next(void);             // seeds with 5489 when never seeded
