// libFuzzer target: see lighting_target.h.
#include "lighting_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_lighting(data, size);
    return 0;
}
