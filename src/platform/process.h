// Asking the system to favour the game's process while a track session runs.
#pragma once

// Keeps the process's memory resident where the system allows it and raises its scheduling
// priority; logs what happened. Nothing is changed on machines with less than 64 MB.
void process_keep_resident_and_raise_priority(void);
