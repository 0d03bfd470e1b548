#pragma once

// Each command of clipnote-encode lives in its own file. argv[0] is the command name
// ("video"); the result is the process exit code.
int RunVideoCommand(int argc, char** argv);
