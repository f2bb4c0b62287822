// The version text the log, the loading screen and the title show.
#pragma once

#define VERSION_TEXT "2021-03-20-1564 snapshot"
