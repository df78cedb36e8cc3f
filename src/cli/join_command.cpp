// vantrel join: the desktop program's Merge without a window. The inputs are admitted in order by
// the compatibility rule, the first is loaded as the base set, the others are appended through
// the AVI clipboard, and the base set is saved to OUT.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "engine/append_via_clipboard.h"
#include "engine/builtin_strings.h"
#include "engine/engine_lifecycle.h"
#include "engine/engine_ports.h"
#include "engine/save_base_set.h"
#include "engine/stream_workspace.h"
#include "engine/utf8_system_port.h"
#include "filelist/compat_rule.h"
#include "open_file.h"
#include "progress_bar.h"

namespace vantrel {

namespace {

constexpr const char* kJoinUsage =
    "usage: vantrel join [--force] [--quiet] -o OUT IN1 [IN2 ...]\n"
    "\n"
    "Joins the inputs, in order, into the new file OUT by stream copy, as the desktop program's\n"
    "Merge does. Each input must have as many streams as IN1 and, stream by stream, the same\n"
    "handler and frame rectangle; a refused input ends the command before anything is written.\n"
    "\n"
    "options:\n"
    "  -o OUT     the joined file; OUT must not name one of the inputs\n"
    "  --force    replace OUT when it exists (otherwise an existing OUT is refused)\n"
    "  --quiet    no progress bar while saving\n"
    "  --help     this text\n"
    "\n"
    "The engine's messages are printed as 'warning: TEXT' lines on stderr.\n"
    "Exit status: 0 the join completed without any message; 2 OUT was written but the engine\n"
    "reported a problem (for example a stream it could not paste into); 1 nothing was written.\n";

constexpr std::size_t kMaxPathUnits = 260;  // 259 characters and the terminator

struct JoinOptions {
    std::string output;
    std::vector<std::string> inputs;
    bool force = false;
    bool quiet = false;
};

// Message boxes as lines on stderr. Engine messages are warnings; the probe's and the version
// test's boxes are errors.
class ConsoleMessageBox final : public MessageBoxPort {
public:
    explicit ConsoleMessageBox(std::function<void()> beforePrint)
        : m_beforePrint(std::move(beforePrint)) {}

    int show(WindowId, const std::string& text, const char* caption, std::uint32_t flags) override {
        if (m_beforePrint)
            m_beforePrint();
        const bool error = (flags & 0xF0u) == kMbIconError ||
                           (caption != nullptr && std::string(caption) == "Error");
        std::fprintf(stderr, "%s: %s\n", error ? "error" : "warning", text.c_str());
        ++m_shown;
        return kIdOk;
    }
    int shown() const { return m_shown; }

private:
    std::function<void()> m_beforePrint;
    int m_shown = 0;
};

class NoWaitCursor final : public WaitCursorPort {
public:
    void begin() override {}
    void end() override {}
};

// The rule sees the inputs admitted so far as its list.
class AdmittedCount final : public ListCountSource {
public:
    int count() const override { return m_count; }
    void add() { ++m_count; }

private:
    int m_count = 0;
};

// Installs the ports and starts the engine for the life of the object.
class EngineSession {
public:
    explicit EngineSession(const EnginePorts& ports) {
        SetEnginePorts(ports);
        m_running = StartEngine(0) != 0;
    }
    ~EngineSession() {
        if (m_running)
            StopEngine();
        SetEnginePorts(EnginePorts{});
    }
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;
    bool running() const { return m_running; }

private:
    bool m_running = false;
};

// 0 when the arguments were read, else the exit status to end with.
int ParseArguments(const Arguments& args, JoinOptions* options, bool* help) {
    *help = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            *help = true;
            return 0;
        }
        if (arg == "-o") {
            if (i + 1 == args.size()) {
                std::fputs("vantrel join: -o needs the output path\n\n", stderr);
                return 1;
            }
            options->output = args[++i];
        } else if (arg == "--force") {
            options->force = true;
        } else if (arg == "--quiet" || arg == "-q") {
            options->quiet = true;
        } else if (arg == "--") {
            options->inputs.insert(options->inputs.end(), args.begin() + i + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "vantrel join: unknown option '%s'\n\n", arg.c_str());
            return 1;
        } else {
            options->inputs.push_back(arg);
        }
    }
    if (options->output.empty() || options->inputs.empty()) {
        std::fputs("vantrel join: an output (-o OUT) and at least one input are needed\n\n",
                   stderr);
        return 1;
    }
    return 0;
}

// Refuses an output the join must not write: one of the inputs, a folder, an existing file
// without --force, or a name the save cannot take. Nothing is changed on disk.
bool CheckOutput(const JoinOptions& options, SystemPort& system) {
    std::error_code error;
    const std::filesystem::path out = std::filesystem::path(options.output);
    for (const std::string& input : options.inputs) {
        if (std::filesystem::equivalent(out, std::filesystem::path(input), error)) {
            std::fprintf(stderr, "vantrel: %s: the output is one of the inputs\n",
                         options.output.c_str());
            return false;
        }
    }
    const std::filesystem::file_status status = std::filesystem::symlink_status(out, error);
    if (std::filesystem::is_directory(status)) {
        std::fprintf(stderr, "vantrel: %s: the output is a folder\n", options.output.c_str());
        return false;
    }
    if (std::filesystem::exists(status) && !options.force) {
        std::fprintf(stderr, "vantrel: %s: the output exists (use --force to replace it)\n",
                     options.output.c_str());
        return false;
    }
    if (system.platformId() >= 2) {
        char16_t wide[kMaxPathUnits];
        if (!system.ansiToWide(options.output.c_str(), wide, kMaxPathUnits)) {
            std::fprintf(stderr,
                         "vantrel: %s: the output path must be valid UTF-8 of at most 259 "
                         "characters\n",
                         options.output.c_str());
            return false;
        }
    }
    return true;
}

// Runs every input past the rule, in order. False at the first refusal.
bool AdmitInputs(const JoinOptions& options, MessageBoxPort& boxes) {
    AdmittedCount admitted;
    NoWaitCursor cursor;
    CompatibilityRule rule(admitted, boxes, cursor, kNoWindow);
    for (const std::string& input : options.inputs) {
        if (!rule.IsCompatibleCandidate(input)) {
            // The rule's own text names no reason for a file that does not read; add it.
            avi::AviContents contents;
            std::string problem;
            if (!ReadInput(input, &contents, &problem))
                ReportBadInput(input, problem);
            return false;
        }
        admitted.add();
    }
    return true;
}

bool RemoveExistingOutput(const std::string& output) {
    std::error_code error;
    const std::filesystem::path out = std::filesystem::path(output);
    if (!std::filesystem::exists(std::filesystem::symlink_status(out, error)))
        return true;
    if (std::filesystem::remove(out, error))
        return true;
    std::fprintf(stderr, "vantrel: %s: cannot replace the output: %s\n", output.c_str(),
                 error.message().c_str());
    return false;
}

}  // namespace

int RunJoin(const Arguments& args) {
    JoinOptions options;
    bool help = false;
    if (const int status = ParseArguments(args, &options, &help); status != 0) {
        std::fputs(kJoinUsage, stderr);
        return status;
    }
    if (help) {
        std::fputs(kJoinUsage, stdout);
        return 0;
    }

    ProgressBar bar(stderr, !options.quiet);
    ConsoleMessageBox boxes([&bar] { bar.finish(); });
    BuiltinStringTable strings;
    Utf8SystemPort system;
    EngineSession engine(EnginePorts{&boxes, &strings, &system});
    if (!engine.running())
        return 1;

    if (!CheckOutput(options, system) || !AdmitInputs(options, boxes))
        return 1;
    // As the Merge command's "replace" answer does: the old file goes before the join starts.
    if (options.force && !RemoveExistingOutput(options.output))
        return 1;

    if (!LoadBaseFile(kNoWindow, options.inputs.front().c_str()))
        return 1;
    for (std::size_t i = 1; i < options.inputs.size(); ++i) {
        if (!AppendFileViaClipboard(kNoWindow, options.inputs[i].c_str()))
            return 1;
    }
    int saved;
    {
        SaveProgressScope observe(bar);
        saved = SaveBaseSet(kNoWindow, options.output.c_str());
    }
    bar.finish();
    if (!saved)
        return 1;
    return boxes.shown() == 0 ? 0 : 2;
}

}  // namespace vantrel
