// The sound device: the driver table, the software mixer's thread, the readback device and
// the recording, the frame's sound, the listener and positional sounds.
#include "audio/sound.h"

#include <math.h>
#include <pthread.h>
#include <string.h>

#include <atomic>

#include "audio/engine_sound.h"
#include "audio/mixer.h"
#include "audio/sound_table.h"
#include "common/mem.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/options.h"
#include "vfs/vfs.h"

static const int k_timeout_checks = 67;         // of 15 ms: about a second
static const float k_speed_of_sound = 1140.63f; // ft/s
static const float k_near = 1.0f / 32;          // ft: closer than this counts as the same place

static struct {
    const SoundDriver *driver;      // the open device's; null: none
    // software mixer
    const WaveOutput *output;
    int rate, channels, fragment_samples, mixahead;
    uint8_t *fragments;             // SOUND_FRAGMENTS x fragment bytes
    pthread_t thread;
    std::atomic<bool> closing;
    void (*wait)(void);
    // readback and the recording
    uint8_t *block;
    int block_samples;
    DataFile *capture;
    // the frame
    float master_gain, volume, comp_volume;
    SoundListener listener;
    bool listener_placed;
} g_sound = { nullptr, nullptr, 0, 0, 0, 0, nullptr, {}, {}, nullptr, nullptr, 0, nullptr, 0, 10, 8,
              { { 0, 0, 0 }, { 0, 0, 0 }, { 1, 0, 0 } }, false };

static int clampi(long long v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : (int)v;
}

// ---- the software mixer's thread

static void wait_15ms(void)
{
    if (g_sound.wait)
        g_sound.wait();
    else
        sleep_for(0, 15000);
}

// Keeps mix-ahead fragments queued: once more than that many were handed over, the next is
// mixed only when the queue has played down to mix-ahead fragments.
static void *mixer_thread(void *)
{
    log_printf("Audio thread begin\n");
    int fragment_bytes = g_sound.fragment_samples * g_sound.channels;
    long ahead = (long)g_sound.mixahead * fragment_bytes;
    long long handed = 0;
    while (!g_sound.closing.load()) {
        if (handed > g_sound.mixahead) {
            int checks = 0;
            while (!g_sound.closing.load() && g_sound.output->queued_bytes() > ahead) {
                wait_15ms();
                if (++checks == k_timeout_checks) {
                    g_sound.output->reset();
                    log_printf("Audio thread: Timeout on fragment %lld\n", handed);
                    checks = 0;
                }
            }
            if (g_sound.closing.load())
                break;
        }
        uint8_t *fragment = g_sound.fragments + (handed % SOUND_FRAGMENTS) * fragment_bytes;
        mixer_mix(fragment, g_sound.fragment_samples);
        if (!g_sound.output->write(fragment, fragment_bytes))
            log_printf("Audio thread: Write error\n");
        handed++;
    }
    log_printf("Audio thread end\n");
    return nullptr;
}

static bool software_open(const WaveOutput *output)
{
    log_printf("Opening waveOut audio...\n");
    if (g_sound.driver) {
        log_printf("Audio already open\n");
        return false;
    }
    if (!output) {
        log_printf("No audio device\n");
        return false;
    }
    int rate = clampi(option_int("sound-rate", 22050), 8000, 192000);
    int limit = clampi(option_int("sound-channels", 16), 0, MIXER_VOICES);
    int mixahead = clampi((long long)option_int("sound-mixahead", 125) * 64 / 1000, 1, 32);
    int channels = 2;
    char name[256] = "";
    if (!output->open(rate, &channels, name, sizeof name))
        return false;
    if (channels != 1 && channels != 2) {
        log_printf("Can't open waveOut: %d channels\n", channels);
        output->close();
        return false;
    }
    log_printf("Found a %s\n", name[0] ? name : "sound device");
    log_printf("Waveout rate: %d\n", rate);
    log_printf("Waveout channels: %d\n", channels);
    log_printf("Waveout mixahead: %d\n", mixahead * 1000 / 64);
    mixer_open(rate, channels == 2, limit);
    mixer_reserve(rate / 64);
    g_sound.output = output;
    g_sound.rate = rate;
    g_sound.channels = channels;
    g_sound.fragment_samples = rate / 64;
    g_sound.mixahead = mixahead;
    g_sound.fragments = (uint8_t *)xmalloc((size_t)SOUND_FRAGMENTS * g_sound.fragment_samples * channels);
    g_sound.closing = false;
    if (pthread_create(&g_sound.thread, nullptr, mixer_thread, nullptr) != 0) {
        log_printf("Can't create thread\n");
        mixer_close();
        output->close();
        xfree(g_sound.fragments);
        g_sound.fragments = nullptr;
        return false;
    }
    g_sound.driver = &g_software_mixer_driver;
    log_printf("Audio opened!\n");
    return true;
}

static void software_close(void)
{
    if (g_sound.driver != &g_software_mixer_driver) {
        log_printf("Can't close audio, not open\n");
        return;
    }
    log_printf("Closing audio\n");
    g_sound.closing = true;
    pthread_join(g_sound.thread, nullptr);
    g_sound.output->close();
    mixer_close();
    xfree(g_sound.fragments);
    g_sound.fragments = nullptr;
    g_sound.driver = nullptr;
}

static bool no_readback(int, int)
{
    return false;
}

static bool readback_has_no_live_output(const WaveOutput *)
{
    return false;
}

static const uint8_t *no_block(void)
{
    return nullptr;
}

static void nothing_to_update(void) {}

// ---- the system mixer: none on this platform

static bool system_mixer_open(const WaveOutput *)
{
    log_printf("No system mixer here (dsnd)\n");
    return false;
}

static void system_mixer_close(void)
{
    log_printf("Can't close audio, not open\n");
}

// ---- readback

static bool readback_open(int rate, int samples_per_block)
{
    log_printf("Opening readback audio...\n");
    if (g_sound.driver) {
        log_printf("Audio already open\n");
        return false;
    }
    if (rate <= 0 || samples_per_block <= 0 || samples_per_block > rate) {
        log_printf("Readback audio: %d samples at %d Hz\n", samples_per_block, rate);
        return false;
    }
    mixer_open(rate, true, clampi(option_int("sound-channels", 16), 0, MIXER_VOICES));
    mixer_reserve(samples_per_block);
    g_sound.block_samples = samples_per_block;
    g_sound.block = (uint8_t *)xmalloc((size_t)samples_per_block * 2);
    g_sound.driver = &g_readback_driver;
    log_printf("Audio opened!\n");
    return true;
}

static void readback_close(void)
{
    if (g_sound.driver != &g_readback_driver) {
        log_printf("Can't close audio, not open\n");
        return;
    }
    log_printf("Closing audio\n");
    mixer_close();
    xfree(g_sound.block);
    g_sound.block = nullptr;
    g_sound.driver = nullptr;
}

static const uint8_t *readback_block(void)
{
    if (g_sound.driver != &g_readback_driver)
        return nullptr;
    mixer_mix(g_sound.block, g_sound.block_samples);
    return g_sound.block;
}

#define MIXER_VOICE_OPERATIONS                                                                              \
    mixer_create_voice, mixer_duplicate_voice, mixer_free_voice, mixer_play, mixer_stop, mixer_set_rate,    \
        mixer_set_volume, mixer_set_pan, mixer_set_loop, mixer_play_position, mixer_write_voice

const SoundDriver g_system_mixer_driver = { "dsnd", system_mixer_open, no_readback, system_mixer_close,
                                            nothing_to_update, no_block, MIXER_VOICE_OPERATIONS };
const SoundDriver g_software_mixer_driver = { "waveout", software_open, no_readback, software_close,
                                              nothing_to_update, no_block, MIXER_VOICE_OPERATIONS };
const SoundDriver g_readback_driver = { "readback", readback_has_no_live_output, readback_open, readback_close,
                                        nothing_to_update, readback_block, MIXER_VOICE_OPERATIONS };

// ---- start-up, frames and shutdown

bool sound_open_readback(int rate, int samples_per_block)
{
    return g_readback_driver.open_readback(rate, samples_per_block);
}

bool sound_open_capture(const char *file, int rate, int samples_per_tic)
{
    if (!file || !*file)
        return false;
    DataFile *f = open_data_file(file, "wb");
    if (!f) {
        log_printf("Can't write the sound recording '%.900s'\n", file);
        return false;
    }
    if (!sound_open_readback(rate, samples_per_tic)) {
        close_data_file(f);
        return false;
    }
    g_sound.capture = f;
    return true;
}

bool sound_open_device(const WaveOutput *output)
{
    static const SoundDriver *const k_drivers[] = { &g_system_mixer_driver, &g_software_mixer_driver };
    for (const SoundDriver *d : k_drivers)
        if (option_bool(d->name, true) && d->open(output))
            return true;
    return false;
}

bool sound_is_open(void)
{
    return g_sound.driver != nullptr;
}

const SoundDriver *sound_driver(void)
{
    return g_sound.driver;
}

void sound_mix_frame(float master_gain, float volume, float comp_volume)
{
    g_sound.master_gain = master_gain;
    g_sound.volume = volume;
    g_sound.comp_volume = comp_volume;
    if (!g_sound.driver)
        return;
    update_engine_voices(master_gain);
    g_sound.driver->update();
}

const uint8_t *sound_read_block(int *bytes)
{
    const uint8_t *block = g_sound.driver ? g_sound.driver->read_block() : nullptr;
    if (bytes)
        *bytes = block ? g_sound.block_samples * 2 : 0;
    return block;
}

void sound_capture_tic(void)
{
    if (!g_sound.capture)
        return;
    int bytes = 0;
    const uint8_t *block = sound_read_block(&bytes);
    if (block && data_write(g_sound.capture, block, (size_t)bytes) != (size_t)bytes) {
        log_printf("Can't write the sound recording: it stops here\n");
        close_data_file(g_sound.capture);
        g_sound.capture = nullptr;
    }
}

void sound_release_voices(void)
{
    engine_sounds_release();
}

void sound_close(void)
{
    if (g_sound.capture) {
        if (!data_flush(g_sound.capture))
            log_printf("Can't write the sound recording\n");
        close_data_file(g_sound.capture);
        g_sound.capture = nullptr;
    }
    if (g_sound.driver) {
        engine_sounds_release();
        g_sound.driver->close();
    }
    sound_tables_free();
}

float sound_master_gain(void)
{
    return g_sound.master_gain;
}

void sound_volume_settings(float *volume, float *comp_volume)
{
    *volume = g_sound.volume;
    *comp_volume = g_sound.comp_volume;
}

void sound_set_wait_for_tests(void (*wait)(void))
{
    g_sound.wait = wait;
}

// ---- voices through the open device

int sound_create_voice(int length, const uint8_t *data, int source_rate)
{
    return g_sound.driver ? g_sound.driver->create_voice(length, data, source_rate) : -1;
}

int sound_duplicate_voice(int voice)
{
    return g_sound.driver ? g_sound.driver->duplicate_voice(voice) : -1;
}

void sound_free_voice(int voice)
{
    if (g_sound.driver)
        g_sound.driver->free_voice(voice);
}

void sound_play(int voice)
{
    if (g_sound.driver)
        g_sound.driver->play(voice);
}

void sound_stop(int voice)
{
    if (g_sound.driver)
        g_sound.driver->stop(voice);
}

void sound_set_rate(int voice, int hz)
{
    if (g_sound.driver)
        g_sound.driver->set_rate(voice, hz);
}

void sound_set_volume(int voice, int volume)
{
    if (g_sound.driver)
        g_sound.driver->set_volume(voice, volume);
}

void sound_set_pan(int voice, int pan)
{
    if (g_sound.driver)
        g_sound.driver->set_pan(voice, pan);
}

void sound_set_loop(int voice, bool on)
{
    if (g_sound.driver)
        g_sound.driver->set_loop(voice, on);
}

int sound_play_position(int voice)
{
    return g_sound.driver ? g_sound.driver->play_position(voice) : 0;
}

void sound_write_voice(int voice, int count, const uint8_t *data, int position)
{
    if (g_sound.driver)
        g_sound.driver->write_voice(voice, count, data, position);
}

// ---- the listener and positional sounds

void sound_set_listener(const SoundListener *listener)
{
    g_sound.listener_placed = listener != nullptr;
    if (listener)
        g_sound.listener = *listener;
}

bool sound_listener_placed(void)
{
    return g_sound.listener_placed;
}

void sound_listener_follow(const SoundListener *listener)
{
    if (listener && !g_sound.listener_placed)
        g_sound.listener = *listener;
}

const SoundListener *sound_listener(void)
{
    return &g_sound.listener;
}

float sound_distance_gain(float distance)
{
    float d = (distance - 1) / 48 + 1;
    return d > 1 ? 1 / d : 1;
}

float sound_doppler(const SoundListener *l, Vec3 pos, Vec3 vel)
{
    Vec3 to_listener = v3_sub(l->position, pos);
    float distance = v3_length(to_listener);
    if (!(distance >= k_near))
        return 1;
    Vec3 n = v3_scale(to_listener, 1 / distance);
    float a = 1 - v3_dot(l->velocity, n) / k_speed_of_sound;
    float b = 1 - v3_dot(vel, n) / k_speed_of_sound;
    // A source at or past the speed of sound towards the listener gives the lowest factor,
    // never a division by zero or a negative pitch.
    if (a > 8 * b || b <= 0)
        return 0.125f;
    return a / b;
}

int sound_pan(const SoundListener *l, Vec3 pos)
{
    Vec3 away = v3_sub(l->position, pos);
    float d2 = v3_dot(away, away);
    if (!(d2 >= k_near * k_near))
        return 0;
    float pan = -32767 * v3_dot(l->side, away) / sqrtf(d2);
    if (!isfinite(pan))
        return 0;
    return clampi((long long)fminf(fmaxf(pan, -32767), 32767), -32767, 32767);
}

SoundPlacement place_script_sound(const SoundListener *l, Vec3 pos, Vec3 vel, float base_rate, float volume,
                                  float master_gain, float comp_volume)
{
    float gain = volume * sound_distance_gain(v3_length(v3_sub(l->position, pos)));
    gain = !(gain > 0) ? 0 : gain > 1 ? 1 : gain;
    gain *= master_gain * 0.1f * comp_volume;
    float rate = base_rate * sound_doppler(l, pos, vel);
    float volume_units = gain * 32767;
    SoundPlacement p;
    p.volume = volume_units > 0 ? (int)fminf(volume_units, 32767) : 0;
    p.rate = rate > 100 ? (int)fminf(rate, 1000000) : 100;
    p.pan = sound_pan(l, pos);
    return p;
}

void position_script_sound(int voice, Vec3 pos, Vec3 vel, float base_rate, float volume)
{
    if (!g_sound.driver)
        return;
    SoundPlacement p = place_script_sound(&g_sound.listener, pos, vel, base_rate, volume, g_sound.master_gain,
                                          g_sound.comp_volume);
    sound_set_volume(voice, p.volume);
    sound_set_rate(voice, p.rate);
    sound_set_pan(voice, p.pan);
}
