// Writes the fuzzer's seed corpus: one tiny file per index kind and per real-world oddity the
// reader knows, so that fuzzing starts from every path instead of having to find them.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "avi_builder.h"

namespace {

using avitest::AviBuilder;
using avitest::BuildOptions;
using avitest::Payload;

std::vector<std::uint8_t> Movie(BuildOptions options, bool twoParts, bool rec = false) {
    AviBuilder b(options);
    b.addStream(avitest::VideoStream(8, 8));
    b.addStream(avitest::PcmAudioStream(1, 8000, 8));
    const int parts = twoParts ? 2 : 1;
    for (int p = 0; p < parts; ++p) {
        if (p > 0)
            b.newRiff();
        for (int i = 0; i < 3; ++i) {
            if (rec)
                b.beginRec();
            b.chunk(0, Payload(static_cast<std::size_t>(5 + i), static_cast<std::uint32_t>(i)),
                    i == 0);
            b.chunk(1, Payload(4, 9));
            if (rec)
                b.endRec();
        }
        b.junk(3);
    }
    return b.build();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_corpus FOLDER\n");
        return 1;
    }
    const std::string folder = argv[1];
    BuildOptions relative;
    BuildOptions absolute;
    absolute.idx1 = avitest::Idx1::Absolute;
    BuildOptions none;
    none.idx1 = avitest::Idx1::None;
    BuildOptions unpadded = none;
    unpadded.padOddChunks = false;
    BuildOptions odml;
    odml.openDml = true;
    BuildOptions odmlField = odml;
    odmlField.fieldIndex = true;
    odmlField.ixStreamFirst = true;
    BuildOptions odmlInStrl = odml;
    odmlInStrl.indxIsChunkIndex = true;
    odmlInStrl.ixBase = avitest::IxBase::RiffStart;
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } files[] = {
        {"idx1_relative.avi", Movie(relative, false)},
        {"idx1_absolute.avi", Movie(absolute, false)},
        {"scan_rec.avi", Movie(none, false, true)},
        {"scan_unpadded.avi", Movie(unpadded, false)},
        {"avix_without_indx.avi", Movie(relative, true)},
        {"opendml.avi", Movie(odml, true)},
        {"opendml_field_index.avi", Movie(odmlField, true)},
        {"opendml_index_in_strl.avi", Movie(odmlInStrl, false)},
    };
    for (const auto& f : files) {
        std::ofstream out(folder + "/" + f.name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(f.bytes.data()),
                  static_cast<std::streamsize>(f.bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), f.name);
            return 1;
        }
    }
    return 0;
}
