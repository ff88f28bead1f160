// The whole program: the arguments parsed, one command run, its result rendered as asked.
#include "cli/commands.h"
#include "common/text.h"
#include "version.h"

namespace cli {

namespace {

Result Dispatch(const Options& options) {
    switch (options.command) {
    case Command::Info:
        return Info(options);
    case Command::Status:
        return StatusOf(options);
    case Command::Register:
        return Register(options);
    case Command::Unregister:
        return Unregister(options);
    case Command::List:
        return List(options);
    case Command::Export:
        return Export(options);
    case Command::Check:
        return Check(options);
    case Command::Which:
        return Which(options);
    case Command::Types:
        return Types(options);
    case Command::Help:
    case Command::Version:
        break;
    }
    return Result();
}

} // namespace

Output Run(const std::vector<std::wstring>& args) {
    Output output;
    ParsedArguments parsed = ParseArguments(args);
    if (!parsed.error.empty()) {
        output.exitCode = kExitError;
        output.err = L"corvane-cli: " + parsed.error + L"\n" + UsageText();
        return output;
    }
    const Options& options = parsed.options;
    if (options.command == Command::Help) {
        output.out = UsageText();
        return output;
    }
    if (options.command == Command::Version) {
        JsonObject document;
        document["program"] = "corvane-cli";
        document["version"] = CORVANE_VERSION_TEXT;
        output.out = options.json ? FromUtf8(Json(document).Text()) + L"\n" : VersionLine() + L"\n";
        return output;
    }
    Result result = Dispatch(options);
    output.exitCode = result.exitCode;
    // Bytes come first: types writes its JSON document as bytes.
    if (!result.bytes.empty())
        output.bytes = std::move(result.bytes);
    else if (options.json)
        output.out = FromUtf8(Json(result.document).Text()) + L"\n";
    else
        output.out = result.text;
    if (!result.error.empty())
        output.err = L"corvane-cli: " + result.error + L"\n";
    return output;
}

} // namespace cli
