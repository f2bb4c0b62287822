// The live wave output over SDL's audio queue: what the software mixer's thread feeds.
#pragma once

struct WaveOutput;

// SDL_OpenAudioDevice with unsigned 8-bit samples at the mixer's rate, two channels or one,
// fed with SDL_QueueAudio; "SDL_AUDIODRIVER" picks SDL's driver as usual.
const WaveOutput *sdl_wave_output(void);
