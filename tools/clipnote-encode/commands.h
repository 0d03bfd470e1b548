#pragma once

// Each command of clipnote-encode lives in its own file. argv[0] is the command name
// ("video", "speech"); the result is the process exit code.
int RunVideoCommand(int argc, char** argv);
int RunSpeechCommand(int argc, char** argv);
