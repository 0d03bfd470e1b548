#pragma once

// Identifiers shared by the resource script and the player code.

// Controls of the player window.
#define IDC_PLAY_BUTTON 1000
#define IDC_MAKER_TEXT 1001
#define IDC_SIZE_BUTTON 1002
#define IDC_LOGO 1003
#define IDC_VIDEO_FRAME 1004
#define IDC_WAIT_TEXT 1005

// Other resources.
#define IDI_PLAYER 128
#define IDB_LOGO 147
#define IDW_STARTUP_SOUND 150
#define RT_MOVIE_CLIP 263
#define RT_VOICE_CLIP 723
