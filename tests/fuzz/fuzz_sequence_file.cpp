// The sequence file reader on any bytes: never crashes, refuses with a line
// and a text or accepts only sound steps, and what it accepts is written and
// read back to the same steps.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "sequence/palette.h"
#include "sequence/sequence_file.h"
#include "sequence/sequence_rules.h"

using namespace tintrava;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const SequenceFileParse parse = readSequenceFile(bytes);
    if (!parse.ok) {
        FUZZ_CHECK(parse.steps.empty());
        FUZZ_CHECK(!parse.error.empty());
        FUZZ_CHECK(parse.line >= 0);
        // The line named is one the file has (or the line after a final line end).
        std::size_t lines = 1;
        for (char c : bytes)
            lines += c == '\n';
        FUZZ_CHECK(std::size_t(parse.line) <= lines);
        return 0;
    }
    FUZZ_CHECK(parse.error.empty());
    for (const SequenceStep &step : parse.steps) {
        FUZZ_CHECK(isStepColour(step.number));
        if (step.number == 13)
            FUZZ_CHECK(isAcceptedWavelengthText(wavelengthTextOfName(step.name)));
    }
    const std::string written = writeSequenceFile(parse.steps);
    const SequenceFileParse again = readSequenceFile(written);
    FUZZ_CHECK(again.ok);
    FUZZ_CHECK(again.steps == parse.steps);
    return 0;
}
