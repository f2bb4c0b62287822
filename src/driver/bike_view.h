// The bikes and riders of the view: every built bike drawn from the camera of the viewed one
// (first person at the rider's eyes in the riding view, behind it otherwise).
#pragma once

void draw_bikes_in_view(int view, int width, int height);
