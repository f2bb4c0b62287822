// Puppets: robot riders moved by a script instead of the autopilot, for measuring the race
// rules on a real track. From the gate drop a puppet's front-wheel centre travels from where it
// stands at a fixed horizontal speed along straight lines through the centres of the
// checkpoints of its lap order, on the ground and facing along the line, its bodies moving with
// it. A cutting puppet rides, on every lap after the first, from normal-lap entry 2 straight to
// entry 5. A puppet of speed 0 stands where it is. Puppets count as robots for the race rules.
#pragma once

enum { k_cut_from_entry = 2, k_cut_to_entry = 5 };

void puppet_set(int slot, float speed, bool cut);   // speed in ft/s
void puppets_clear(void);
bool is_puppet(int slot);
// The puppet's move for this tic (the robots' step of the tic); false when the slot is no puppet.
bool puppet_drive(int slot);

// "V[c],V[c],...": speeds in ft/s, each optionally followed by "c" for a cutting puppet.
// Returns the count, or -1 (nothing kept) for a malformed list or more than max entries.
int  puppets_parse(const char *text, float *speeds, bool *cuts, int max);
