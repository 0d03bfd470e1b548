#pragma once

// Each command of clipnote-decode lives in its own file. argv[0] is the command name
// ("video", "audio", "bench", "extract", "info", "export", "html", "pack"); the result is the process exit code.
int RunVideoCommand(int argc, char** argv);
int RunAudioCommand(int argc, char** argv);
int RunBenchCommand(int argc, char** argv);
int RunExtractCommand(int argc, char** argv);
int RunInfoCommand(int argc, char** argv);
int RunExportCommand(int argc, char** argv);
int RunHtmlCommand(int argc, char** argv);
int RunPackCommand(int argc, char** argv);
