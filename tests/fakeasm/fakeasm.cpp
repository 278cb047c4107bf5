// A stand-in for NASM that misbehaves on request. Called as NASM is (other options such as
// -I FOLDER/ or -l LISTING may come first): fakeasm ... -f bin SOURCE -o OUTPUT.
// FAKEASM_MODE: copy (SOURCE to OUTPUT, the default); warn (a warning naming SOURCE, then copy);
// fail (an error naming SOURCE, OUTPUT removed, exit 1); cp1251 (the same, the error text "Привет"
// in Windows-1251); status (exit 3, silent, OUTPUT untouched); nooutput (OUTPUT removed, exit 0);
// crash (a fault, on Windows too); hang (sleeps for ever); flood (warnings naming SOURCE for ever).
// unicorn-oom: as a trial worker that Unicorn ends when it cannot get its translation buffer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

int main(int argc, char *argv[]) {
    if (const char *mode = std::getenv("FAKEASM_MODE"); mode && std::string(mode) == "unicorn-oom")
        return std::cerr << "Could not allocate dynamic translator buffer\n", 1;
    std::string format, source, output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "-f" || arg == "-o") && i + 1 < argc)
            (arg == "-f" ? format : output) = argv[++i];
        else if (arg == "-I" || arg == "-l")
            ++i;  // options with a value that matters not here
        else if (arg[0] != '-')
            source = arg;
    }
    if (format != "bin" || source.empty() || output.empty()) return std::cerr << "fakeasm: bad arguments\n", 64;
    const char *env = std::getenv("FAKEASM_MODE");
    const std::string mode = env ? env : "copy";
    if (mode == "crash") *static_cast<volatile int *>(nullptr) = 0;
    if (mode == "status") return 3;
    while (mode == "hang") std::this_thread::sleep_for(std::chrono::hours(1));
    if (mode == "flood") {  // in large writes: one write per line is slow under Wine
        std::string lines;
        while (lines.size() < 65536) lines += source + ":1: warning: fake warning\n";
        for (;;) std::fwrite(lines.data(), 1, lines.size(), stderr);
    }
    if (mode == "warn") std::cerr << source << ":1: warning: fake warning\n";
    if (mode == "fail" || mode == "cp1251")
        std::cerr << source << ":1: error: " << (mode == "fail" ? "fake failure" : "\xCF\xF0\xE8\xE2\xE5\xF2") << '\n';
    if (mode == "fail" || mode == "cp1251" || mode == "nooutput") {
        std::remove(output.c_str());
        return mode == "nooutput" ? 0 : 1;
    }
    // The source's first line names it, as NASM's %line does; the rest is the text.
    std::ifstream in(source, std::ios::binary);
    if (in.peek() == '%') in.ignore(1 << 20, '\n');
    std::ofstream(output, std::ios::binary | std::ios::trunc) << in.rdbuf();
}
