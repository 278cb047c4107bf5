// A stand-in for NASM that misbehaves on request, for the cases the real one
// rarely shows. Called as NASM is: fakeasm -f bin SOURCE -o OUTPUT.
// FAKEASM_MODE selects what it does:
//   copy      copies SOURCE to OUTPUT (the default)
//   warn      prints a warning naming SOURCE, then copies
//   fail      prints an error naming SOURCE, removes OUTPUT, exits 1
//   status    exits 3 without a word and without touching OUTPUT
//   nooutput  removes OUTPUT and exits 0
//   crash     aborts
//   hang      sleeps for ever
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

int main(int argc, char *argv[]) {
    if (argc < 6 || std::strcmp(argv[1], "-f") != 0 || std::strcmp(argv[2], "bin") != 0 ||
        std::strcmp(argv[4], "-o") != 0) {
        std::cerr << "fakeasm: unexpected arguments\n";
        return 64;
    }
    const std::string source = argv[3];
    const std::string output = argv[5];
    const char *env = std::getenv("FAKEASM_MODE");
    const std::string mode = env ? env : "copy";

    if (mode == "crash") std::abort();
    if (mode == "hang") {
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    if (mode == "status") return 3;
    if (mode == "nooutput") {
        std::remove(output.c_str());
        return 0;
    }
    if (mode == "fail") {
        std::cerr << source << ":1: error: fake failure\n";
        std::remove(output.c_str());
        return 1;
    }
    if (mode == "warn") std::cerr << source << ":1: warning: fake warning\n";

    std::ifstream in(source, std::ios::binary);
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    return 0;
}
