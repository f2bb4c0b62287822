// The live wave output over SDL's audio queue.
#include "audio/live/sdl_output.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <SDL.h>

#include "audio/sound.h"
#include "platform/log.h"

enum { k_device_samples = 512 };

static struct {
    SDL_AudioDeviceID device;
} g_sdl_out;

// The system's sound libraries write their own complaints on standard error while SDL tries
// them (a machine without a sound card gets a screenful); the log gets SDL's account instead.
// Only the main thread runs while the device opens and closes.
static int quiet_stderr(void)
{
    fflush(stderr);
    int saved = dup(2), null = open("/dev/null", O_WRONLY);
    if (saved >= 0 && null >= 0)
        dup2(null, 2);
    if (null >= 0)
        close(null);
    return saved;
}

static void restore_stderr(int saved)
{
    if (saved < 0)
        return;
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
}

// SDL converts from exactly this format to whatever the device wants.
static bool open_channels(int rate, int channels)
{
    SDL_AudioSpec want, have;
    SDL_zero(want);
    want.freq = rate;
    want.format = AUDIO_U8;
    want.channels = (Uint8)channels;
    want.samples = k_device_samples;
    g_sdl_out.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    return g_sdl_out.device != 0;
}

static bool open_device(int rate, int *channels)
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        log_printf("No audio device: %s\n", SDL_GetError());
        return false;
    }
    *channels = 2;
    if (!open_channels(rate, 2)) {
        *channels = 1;
        if (!open_channels(rate, 1)) {
            log_printf("Can't open waveOut: %s\n", SDL_GetError());
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
    }
    return true;
}

static bool sdl_open(int rate, int *channels, char *device_name, int name_size)
{
    int saved = quiet_stderr();
    bool opened = open_device(rate, channels);
    restore_stderr(saved);
    if (!opened)
        return false;
    const char *name = SDL_GetNumAudioDevices(0) > 0 ? SDL_GetAudioDeviceName(0, 0) : nullptr;
    const char *driver = SDL_GetCurrentAudioDriver();
    snprintf(device_name, (size_t)name_size, "%s%s%s", name ? name : "", name ? " on " : "",
             driver ? driver : "SDL");
    SDL_PauseAudioDevice(g_sdl_out.device, 0);
    return true;
}

static bool sdl_write(const uint8_t *data, int bytes)
{
    return SDL_QueueAudio(g_sdl_out.device, data, (Uint32)bytes) == 0;
}

static long sdl_queued_bytes(void)
{
    return (long)SDL_GetQueuedAudioSize(g_sdl_out.device);
}

static void sdl_reset(void)
{
    SDL_ClearQueuedAudio(g_sdl_out.device);
}

static void sdl_close(void)
{
    int saved = quiet_stderr();
    if (g_sdl_out.device) {
        SDL_CloseAudioDevice(g_sdl_out.device);
        g_sdl_out.device = 0;
    }
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    restore_stderr(saved);
}

static const WaveOutput k_sdl_output = { sdl_open, sdl_write, sdl_queued_bytes, sdl_reset, sdl_close };

const WaveOutput *sdl_wave_output(void)
{
    return &k_sdl_output;
}
