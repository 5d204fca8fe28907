// Instructions a page for each reader of page_bench, a count that the load of
// a shared machine does not change:
//   valgrind --tool=callgrind --instr-atstart=no page_instructions READER ENCODING
// with READER plugin, plain, pugixml or floor and ENCODING sjis or utf8 counts
// 100 pages of the realistic 10-hit answer (two pages before are not counted).
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "answers.h"
#include "platform/platform.h"
#include "readers.h"

int main(int argc, char** argv) {
    using namespace norrow;
    if (argc != 3) {
        std::fprintf(stderr, "usage: page_instructions plugin|plain|pugixml|floor sjis|utf8\n");
        return 2;
    }
    platform::System().messageBox = [](const char*, unsigned) { return 1; };
    const std::string reader = argv[1];
    const std::string answer = bench::RealisticPage(10, std::strcmp(argv[2], "utf8") == 0);
    std::vector<char> buffer(answer.size());
    size_t read = 0;
    auto page = [&] {
        if (reader == "plugin" || reader == "plain") {
            read += bench::ReadAsPlugin(answer, reader == "plain");
        } else if (reader == "pugixml") {
            read += bench::ReadWithPugixml(answer, buffer);
        } else {
            read += bench::CountAngleBrackets(answer) > 0;
        }
    };
    page();
    page();
    CALLGRIND_START_INSTRUMENTATION;
    for (int i = 0; i < 100; ++i) page();
    CALLGRIND_STOP_INSTRUMENTATION;
    return read == 102 ? 0 : 1;
}
