// tamsel-sim: plays Tamsel for the Norrow plug-in. See kUsage.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/os.h"
#include "services/services.h"
#include "tamsel-sim/options.h"
#include "tamsel-sim/report.h"
#include "tamsel-sim/session.h"

#if NORROW_OS_WINDOWS
#include <windows.h>

#include <shellapi.h>  // needs windows.h first
#else
#include <pthread.h>
#endif

namespace {

using namespace norrow::sim;

constexpr int kServed = 0;
constexpr int kNotServed = 1;
constexpr int kBadUsage = 2;

int Fail(const std::string& reason) {
    std::fprintf(stderr, "tamsel-sim: %s\n", reason.c_str());
    return kBadUsage;
}

int Search(const Options& options) {
    Outcome outcome;
    std::string error;
    if (!RunSearch(options, outcome, error)) return Fail(error);
    if (options.json) {
        PrintJson(std::cout, outcome);
    } else {
        PrintTable(std::cout, outcome);
    }
    if (!options.geojson.empty()) {
        std::ofstream out(std::filesystem::u8path(options.geojson), std::ios::binary);
        PrintGeoJson(out, outcome);
        if (!out) return Fail("cannot write " + options.geojson);
    }
    return outcome.Served() ? kServed : kNotServed;
}

// Waits until the user interrupts the program.
void WaitForInterrupt() {
#if NORROW_OS_WINDOWS
    for (;;) Sleep(INFINITE);  // Ctrl-C ends the process
#else
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    int signal = 0;
    sigwait(&stop, &signal);
#endif
}

int Services(const Options& options) {
#if NORROW_OS_LINUX
    // Block the signals before the server's thread starts: it inherits the mask.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
#endif
    norrow::tools::StandInServices services(norrow::tools::Gazetteer::BuiltIn());
    const int port = services.Start(options.port);
    if (port < 0) return Fail("cannot listen on 127.0.0.1:" + std::to_string(options.port));
    std::printf(
        "stand-in services on http://127.0.0.1:%d (server information at %s, "
        "searches at %s and %s); Ctrl-C stops\n",
        port, "/norrow/downloadinfo.php", norrow::tools::kGeocoderPath,
        norrow::tools::kLocalSearchPath);
    std::fflush(stdout);
    WaitForInterrupt();
    services.Stop();
    return kServed;
}

}  // namespace

// The arguments after the program name, in UTF-8. Windows hands a program its
// arguments in the ANSI code page; the wide command line keeps every character.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
#if NORROW_OS_WINDOWS
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) {
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &argument[0], bytes, nullptr, nullptr);
        arguments.push_back(argument);
    }
    LocalFree(wide);
    return arguments;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "-h") {
        std::fputs(kUsage, arguments.empty() ? stderr : stdout);
        return arguments.empty() ? kBadUsage : kServed;
    }
    Options options;
    std::string error;
    if (!ParseOptions(arguments, options, error)) return Fail(error + " (see tamsel-sim --help)");
    if (options.command == "search") return Search(options);
    if (options.command == "services") return Services(options);
    AboutOutcome about;
    if (!RunAbout(options, about, error)) return Fail(error);
    if (options.json) PrintJson(std::cout, about);
    return kServed;
}
