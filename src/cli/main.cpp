// vantrel: joins AVI files by stream copy from the command line, with the engine and the
// compatibility rule of the desktop program.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace {

constexpr const char* kUsage =
    "usage: vantrel <command> [options] [files]\n"
    "\n"
    "Joins AVI files by stream copy, with the rules of the AVI Vantrel desktop program.\n"
    "\n"
    "commands:\n"
    "  join -o OUT IN1 IN2 ...   join the inputs, in order, into OUT\n"
    "  probe FILE...             show the streams of each file and what its index holds\n"
    "  remux IN OUT              read IN and write its streams to a new file OUT\n"
    "\n"
    "'vantrel <command> --help' explains a command.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 1 : 0;
    }
    const std::string command = argv[1];
    const vantrel::Arguments args(argv + 2, argv + argc);
    if (command == "probe")
        return vantrel::RunProbe(args);
    if (command == "remux")
        return vantrel::RunRemux(args);
    if (command == "join")
        return vantrel::RunJoin(args);
    std::fprintf(stderr, "vantrel: unknown command '%s'\n\n%s", command.c_str(), kUsage);
    return 1;
}
