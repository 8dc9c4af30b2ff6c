// The Windows CE program as a 32-bit Windows executable, run under Wine
// against the stand-in coredll.dll (win32/). What it imports, and per run:
// its exit code, its trace (the stand-in's standard output) and the
// stand-in's record of every platform call with its summary (its standard
// error, lines starting "coredll: ").

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "expected_trace.h"

#if !defined(WIN32_PROGRAM) || !defined(MISUSE_PROGRAM) || !defined(STANDIN_COREDLL) || \
    !defined(OBJDUMP_PROGRAM) || !defined(WINE_PREFIX) || !defined(OUTPUT_DIR)
#error "the build must say where the programs, the stand-in, objdump, the Wine prefix and the output are"
#endif

namespace {

// The calls the CE backend makes to COREDLL, with their CE names.
const std::set<std::string> kPlatformCalls = {"NKvDbgPrintfW", "Sleep", "VirtualAlloc", "VirtualCopy",
                                              "VirtualFree"};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// `objdump -p`: the names each DLL in the import table gives, by lower-case
// DLL name, and under "(exports)" the names of the export table.
std::map<std::string, std::set<std::string>> PeNames(const std::string& file) {
    static const std::regex dllName(R"(^\s*DLL Name: (\S+))");
    static const std::regex imported(R"(^\s*[0-9a-f]+\s+[0-9]+\s+(\S+)\s*$)");
    static const std::regex exportTable(R"(^\[Ordinal/Name Pointer\] Table)");
    static const std::regex exported(R"(^\s*\[\s*[0-9]+\]\s+(\S+)\s*$)");
    std::map<std::string, std::set<std::string>> names;
    FILE* out = popen((std::string(OBJDUMP_PROGRAM) + " -p '" + file + "'").c_str(), "r");
    if (out == nullptr) return names;
    std::string list;  // where the lines being read go; a blank line ends it
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr) {
        const std::string line = buffer;
        std::smatch m;
        if (std::regex_search(line, m, dllName)) {
            list = Lower(m[1]);
        } else if (std::regex_search(line, exportTable)) {
            list = "(exports)";
        } else if (line.find_first_not_of(" \t\r\n") == std::string::npos) {
            list.clear();
        } else if (!list.empty() &&
                   (std::regex_search(line, m, imported) || std::regex_search(line, m, exported))) {
            names[list].insert(m[1]);
        }
    }
    pclose(out);
    return names;
}

// Equal, or where the two part, with a little text around: a whole trace of
// 20 kB says nothing about where it went wrong.
::testing::AssertionResult SameTrace(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    const std::size_t from = at < 60 ? 0 : at - 60;
    return ::testing::AssertionFailure()
           << "traces part at byte " << at << " of " << actual.size() << " (expected " << expected.size()
           << ")\n  actual:   " << ::testing::PrintToString(actual.substr(from, 120))
           << "\n  expected: " << ::testing::PrintToString(expected.substr(from, 120));
}

struct WineRun {
    int status = -1;
    std::string trace;
    // The stand-in's record: one entry per call, a run of equal calls as
    // "CALL xN"; problems as "problem: ...".
    std::vector<std::string> calls;
    std::string summary;
    std::string base = "0x????????";  // what the stand-in's VirtualAlloc handed out
};

// Runs the program, or another Windows program and its arguments.
WineRun RunUnderWine(const std::string& name, const std::string& refuse,
                     const std::string& commandLine = "'" WIN32_PROGRAM "'") {
    const std::string out = std::string(OUTPUT_DIR) + "/" + name + ".trace";
    const std::string err = std::string(OUTPUT_DIR) + "/" + name + ".coredll";
    // Headless, 32-bit, in the build tree's prefix; the test ends only once
    // the prefix's wineserver has gone.
    const std::string environment =
        "export WINEDEBUG=-all WINEARCH=win32 WINEPREFIX='" WINE_PREFIX
        "' WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d' COREDLL_REFUSE='" + refuse + "'; ";
    const std::string command = environment + "timeout --kill-after=5 60 wine " + commandLine + " >'" + out +
                                "' 2>'" + err + "'; status=$?; wineserver -w; exit $status";
    WineRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.trace = ReadFile(out);

    const std::string prefix = "coredll: ";
    std::istringstream lines(ReadFile(err));
    std::string previous;
    int repeats = 0;
    auto flush = [&] {
        if (repeats == 1) run.calls.push_back(previous);
        if (repeats > 1) run.calls.push_back(previous + " x" + std::to_string(repeats));
    };
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;  // Wine's own messages
        line.erase(0, prefix.size());
        if (line.compare(0, 8, "summary:") == 0) {
            run.summary = line;
            continue;
        }
        if (line.compare(0, 13, "VirtualAlloc(") == 0) run.base = line.substr(line.rfind("= ") + 2, 10);
        if (line == previous) {
            ++repeats;
            continue;
        }
        flush();
        previous = line;
        repeats = 1;
    }
    flush();
    return run;
}

const std::string kReserve = "VirtualAlloc(0x00000000, 0x00010000, 0x00002000, 0x00000001) = ";

std::string MapGpio(const std::string& base) {
    // Physical 0x40E00000 >> 8, 64 KiB, PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL.
    return "VirtualCopy(" + base + ", 0x0040e000, 0x00010000, 0x00000604) = ";
}

std::string Release(const std::string& base) {
    return "VirtualFree(" + base + ", 0x00000000, 0x00008000) = 1";
}

// A run whose mapping failed: both phases skipped.
#define UNMAPPED_RUN(call)                                                                  \
    "+TolvarGPIOTest\r\n+TolvarGPIO(3)\r\nError! at " call "()\r\n-TolvarGPIO()\r\n" \
    "+~TolvarGPIO()\r\n-~TolvarGPIO()\r\n\r\n-TolvarGPIOTest\r\n"

// Linked against the import library made from coredll.def: every call the
// CE backend makes resolves to coredll.dll. Were kernel32 searched first,
// Sleep, VirtualAlloc and VirtualFree would bind there without a word.
TEST(WineProgram, ImportsEveryPlatformCallFromCoredllAndNoneFromKernel32) {
    auto imports = PeNames(WIN32_PROGRAM);
    ASSERT_TRUE(imports.count("kernel32.dll")) << "no import table read from " << WIN32_PROGRAM;
    EXPECT_EQ(imports["coredll.dll"], kPlatformCalls);
    for (const std::string& name : kPlatformCalls) EXPECT_EQ(imports["kernel32.dll"].count(name), 0u) << name;
    // The stand-in offers exactly those names, nothing the program could
    // come to rely on that the device's COREDLL might lack.
    EXPECT_EQ(PeNames(STANDIN_COREDLL)["(exports)"], kPlatformCalls);
    // The caller that trips the stand-in's checks reaches it too.
    imports = PeNames(MISUSE_PROGRAM);
    for (const char* name : {"VirtualAlloc", "VirtualCopy", "VirtualFree"}) {
        EXPECT_EQ(imports["coredll.dll"].count(name), 1u) << name;
        EXPECT_EQ(imports["kernel32.dll"].count(name), 0u) << name;
    }
}

TEST(WineRun, WholeExerciseExitsZeroWithTheDocumentedTraceAndEveryCallAsCeNeedsIt) {
    const WineRun run = RunUnderWine("whole_exercise", "");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(SameTrace(
        run.trace, expected::WholeRun(static_cast<std::uint32_t>(std::stoul(run.base, nullptr, 0)), 0)));
    const std::vector<std::string> calls = {kReserve + run.base, MapGpio(run.base) + "1", "Sleep(500) x120",
                                            "Sleep(10) x600", Release(run.base)};
    EXPECT_EQ(run.calls, calls);
    EXPECT_EQ(run.summary, "summary: 750 prints, 720 sleeps totalling 66000 ms, 0 ranges left, 0 problems");
}

TEST(WineRun, RefusedVirtualCopyExitsOneAndReleasesTheReservation) {
    const WineRun run = RunUnderWine("refused_virtual_copy", "VirtualCopy");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(SameTrace(run.trace, UNMAPPED_RUN("VirtualCopy")));
    const std::vector<std::string> calls = {kReserve + run.base, MapGpio(run.base) + "0 (refused as asked)",
                                            Release(run.base)};
    EXPECT_EQ(run.calls, calls);
    EXPECT_EQ(run.summary, "summary: 7 prints, 0 sleeps totalling 0 ms, 0 ranges left, 0 problems");
}

TEST(WineRun, RefusedVirtualAllocExitsOne) {
    const WineRun run = RunUnderWine("refused_virtual_alloc", "VirtualAlloc");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(SameTrace(run.trace, UNMAPPED_RUN("VirtualAlloc")));
    const std::vector<std::string> calls = {kReserve + "0x00000000 (refused as asked)"};
    EXPECT_EQ(run.calls, calls);
    EXPECT_EQ(run.summary, "summary: 7 prints, 0 sleeps totalling 0 ms, 0 ranges left, 0 problems");
}

// The stand-in's own checks, each tripped by a caller that breaks it
// (win32/coredll_misuse.cpp): the wrong call is refused with a complaint,
// the rest of the run goes on, and the summary counts the one problem.
TEST(WineRun, StandInComplainsOfEachCallACeKernelWouldNotTake) {
    const struct {
        const char* misuse;
        std::vector<std::string> calls;  // "BASE": the reservation's address
        const char* leftAndProblems;
    } kMisuses[] = {
        {"cached-copy",
         {kReserve + "BASE",
          "problem: VirtualCopy protection 0x00000404 lacks PAGE_NOCACHE: device registers must be uncached",
          "VirtualCopy(BASE, 0x0040e000, 0x00010000, 0x00000404) = 0", Release("BASE")},
         "0 ranges left, 1 problems"},
        {"sized-free",
         {kReserve + "BASE", "problem: VirtualFree size 65536: MEM_RELEASE takes 0",
          "VirtualFree(BASE, 0x00010000, 0x00008000) = 0", Release("BASE")},
         "0 ranges left, 1 problems"},
        {"leaked-reservation",
         {kReserve + "BASE", "problem: BASE (65536 bytes) still reserved at exit"},
         "1 ranges left, 1 problems"},
    };
    for (const auto& misuse : kMisuses) {
        SCOPED_TRACE(misuse.misuse);
        const WineRun run = RunUnderWine(std::string("misuse_") + misuse.misuse, "",
                                         "'" MISUSE_PROGRAM "' " + std::string(misuse.misuse));
        EXPECT_EQ(run.status, 0);
        std::vector<std::string> calls = misuse.calls;
        for (std::string& call : calls) {
            for (std::size_t at; (at = call.find("BASE")) != std::string::npos;) call.replace(at, 4, run.base);
        }
        EXPECT_EQ(run.calls, calls);
        EXPECT_EQ(run.summary, "summary: 0 prints, 0 sleeps totalling 0 ms, " + std::string(misuse.leftAndProblems));
    }
}

}  // namespace
