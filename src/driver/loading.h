// The loading screen: how progress reports reach the window while the game starts or loads a
// track.
#pragma once

// Installs the progress hooks (events drained, held controls forgotten, the title screen with
// the text and the activity indicator presented) and hands the progress operations to the
// terrain's own step reports.
void loading_screen_install(void);
