#pragma once

// Each subcommand of clipnote-encode lives in its own file. argv[0] is the subcommand's name;
// the result is the process exit code.
int RunSpeechCommand(int argc, char** argv);
