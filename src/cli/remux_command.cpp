// vantrel remux: one file through the whole library, open, edit, save.
#include <cstdio>
#include <vector>

#include "avifile.h"
#include "commands.h"
#include "open_file.h"
#include "progress_bar.h"

namespace vantrel {

namespace {

constexpr const char* kRemuxUsage =
    "usage: vantrel remux [--quiet] IN OUT\n"
    "\n"
    "Reads IN and writes its streams by stream copy to the new file OUT, as a join of one file\n"
    "would. OUT must not exist yet. Exit status 1 when nothing was written.\n";

}  // namespace

int RunRemux(const Arguments& args) {
    std::vector<std::string> files;
    bool quiet = false;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kRemuxUsage, stdout);
            return 0;
        }
        if (arg == "--quiet" || arg == "-q") {
            quiet = true;
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) {
        std::fputs(kRemuxUsage, stderr);
        return 1;
    }
    const std::string& in = files[0];
    const std::string& out = files[1];

    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, in.c_str(), OF_READ, nullptr) != AVIERR_OK) {
        avi::AviContents contents;
        std::string problem = "cannot be read";
        ReadInput(in, &contents, &problem);
        ReportBadInput(in, problem);
        return 1;
    }
    std::vector<PAVISTREAM> streams;
    for (std::int32_t i = 0;; ++i) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, 0, i) != AVIERR_OK)
            break;
        PAVISTREAM editable = nullptr;
        const AviResult made = CreateEditableStream(&editable, stream);
        AVIStreamRelease(stream);
        if (made != AVIERR_OK)
            break;
        streams.push_back(editable);
    }
    AVIFileRelease(file);

    std::vector<AVICOMPRESSOPTIONS> options(streams.size());
    std::vector<AVICOMPRESSOPTIONS*> optionPointers;
    for (AVICOMPRESSOPTIONS& option : options)
        optionPointers.push_back(&option);

    ProgressBar bar(stderr, !quiet);
    AviResult saved;
    {
        SaveProgressScope observe(bar);
        saved = AVISaveVA(out.c_str(), nullptr, nullptr, static_cast<std::int32_t>(streams.size()),
                          streams.data(), optionPointers.data());
    }
    bar.finish();
    for (PAVISTREAM stream : streams)
        AVIStreamRelease(stream);
    if (saved != AVIERR_OK) {
        const char* name = AviErrorName(saved);
        std::fprintf(stderr, "vantrel: %s: the save failed: %s%s\n", out.c_str(),
                     name != nullptr ? name : "unknown error",
                     saved == AVIERR_FILEOPEN ? " (the file exists or cannot be created)" : "");
        return 1;
    }
    return 0;
}

}  // namespace vantrel
