// Drawing the track's scenery: flaggers, statues, billboards and the roost particles.
#pragma once

void flaggers_update(void);                                  // per frame, before drawing (pictures, positions)
void statues_draw(const float eye[3]);
void billboards_draw(const float eye[3], const float back[3]);   // back = camera's backward axis; roost particles live in billboard slots and draw here
