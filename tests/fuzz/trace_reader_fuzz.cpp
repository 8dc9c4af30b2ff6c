// A saved trace from outside, read as pxa-gpio-check reads a file: through
// the trace reader a block at a time, then held against the expected run.
// The first byte also sets the block size, and the same bytes read in one
// block must give the same messages: no message may depend on where the
// blocks were cut. Read as a port is, the messages looked at before the
// end (those split and those held back) must be the ones the end gives,
// and the progress line's judgement of them must hold up.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "expected_run.h"
#include "run_progress.h"
#include "trace_check.h"
#include "trace_reader.h"

namespace {

gpio_check::TraceReader* Read(const std::uint8_t* data, std::size_t size, std::size_t block,
                              gpio_check::TraceReader& reader,
                              std::vector<gpio_check::TraceMessage>* looked = nullptr) {
    const char* bytes = reinterpret_cast<const char*>(data);
    for (std::size_t at = 0; at < size; at += block) {
        if (!reader.Add(bytes + at, size - at < block ? size - at : block)) return nullptr;
    }
    if (looked != nullptr) {
        *looked = reader.SplitMessages();
        const std::vector<gpio_check::TraceMessage> held = reader.HeldMessages();
        looked->insert(looked->end(), held.begin(), held.end());
    }
    return reader.Finish() ? &reader : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace gpio_check;
    // Small limits, so that the fuzzer reaches the refusals too.
    TraceLimits limits;
    limits.largestBytes = 60000;
    limits.firstMessageWithin = 20000;
    limits.mostMessages = 2000;
    TraceReader whole(limits), pieces(limits);
    TraceReader* one = Read(data, size, size + 1, whole);
    std::vector<TraceMessage> looked;
    TraceReader* many = Read(data, size, size > 0 ? 1 + data[0] % 97 : 1, pieces, &looked);
    if ((one == nullptr) != (many == nullptr)) std::abort();
    if (one == nullptr) return 0;
    const SavedTrace& a = one->Trace();
    const SavedTrace& b = many->Trace();
    if (a.messages.size() != b.messages.size() || a.unrecognised != b.unrecognised) std::abort();
    for (std::size_t i = 0; i < a.messages.size(); ++i) {
        if (!SameStep(a.messages[i], b.messages[i]) || a.messages[i].offset != b.messages[i].offset ||
            a.messages[i].value2 != b.messages[i].value2 || a.messages[i].complete != b.messages[i].complete) {
            std::abort();
        }
    }
    if (looked.size() != b.messages.size()) std::abort();
    for (std::size_t i = 0; i < looked.size(); ++i) {
        if (!SameStep(looked[i], b.messages[i]) || looked[i].offset != b.messages[i].offset) std::abort();
    }
    // Running the expected exercise costs far more than reading; most inputs
    // report the same base.
    static std::uint32_t base = 0;
    static ExpectedRun expected;
    if (expected.messages.empty() || MappedBase(a.messages) != base) {
        base = MappedBase(a.messages);
        expected = RunExpectedExercise(base);
    }
    CheckTrace(a, expected);
    const RunProgress progress = FollowRun(looked, expected);
    if (progress.step > progress.steps || progress.sample > progress.samples) std::abort();
    ProgressText(progress, 1.0);
    return 0;
}
