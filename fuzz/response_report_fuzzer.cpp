// The controller's reporting of one exchange: a valid command frame made from the fuzzer's
// bytes, then an arbitrary response, reported at every output level, with and without
// error-abort. A crash and bounds net with the promises that hold for any response. No link is
// needed.
//
// Input layout: node byte (taken modulo 32), command byte (index into the command table),
// parameter length (16 bits, folded into the code's limits), the parameter bytes (a byte that no
// frame may hold is folded onto a printable one), then the response: every byte that is left.
// QByteArray keeps the response in a heap block of exactly its size and a NUL, so
// AddressSanitizer stops any read past it.

#include <QCoreApplication>

#include <string>

#include "controllerprobe.h"
#include "fuzz_support.h"

namespace {

const int levelCount = 4;

QByteArray commandFrame(FuzzInput &input)
{
    const unsigned int node = input.byte() % 32;
    const v640_code_entry &entry = v640_command_list[input.byte() % tableSize(v640_command_list)];
    const int span = entry.max_parameter_length - entry.min_parameter_length + 1;
    const int length = entry.min_parameter_length + input.word16() % span;
    std::string parameter;
    for (int i = 0; i < length; ++i) {
        const uint8_t byte = input.byte();
        const char character = static_cast<char>(byte);
        parameter +=
            isFrameCharacter(character) ? character : static_cast<char>(0x20 + byte % 0x5F);
    }
    const char *frame = v640_build_command_frame(node, entry.code, parameter.c_str());
    FUZZ_REQUIRE(frame != nullptr);
    return QByteArray(frame);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The reporting runs inside an application, as in the program; it lives until exit.
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const QByteArray command = commandFrame(input);
    const uint8_t *rest = nullptr;
    const std::size_t restSize = input.take(input.remaining(), &rest);
    const QByteArray response(reinterpret_cast<const char *>(rest), static_cast<int>(restSize));

    // Every report is whole lines, or nothing (a read that names no page); level 3 prints what
    // level 0 does; error-abort prints the same and ends the run with 2 or not at all.
    QByteArray output[levelCount];
    for (const bool errorAbort : {false, true}) {
        for (int level = 0; level < levelCount; ++level) {
            ControllerProbe reporting;
            const QByteArray report = reporting.report(command, response, level, errorAbort);
            FUZZ_REQUIRE(report.isEmpty() || report.endsWith('\n'));
            FUZZ_REQUIRE(!errorAbort || report == output[level]);
            output[level] = report;
            const int status = reporting.exitStatus();
            FUZZ_REQUIRE(status == ConsoleApplicationMain::NoError ||
                         (errorAbort && status == ConsoleApplicationMain::V640ResponseError));
        }
        FUZZ_REQUIRE(output[3] == output[0]);
    }
    return 0;
}
