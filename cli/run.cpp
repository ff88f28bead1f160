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
    case Command::Diff:
        return Diff(options);
    case Command::Help:
    case Command::Version:
        break;
    }
    return Result();
}

// --version's second line: how the reader's child is confined on this machine, as an idle child
// just started shows it.
std::wstring ReaderLine(HRESULT started, const reader::Confinement& confinement) {
    if (FAILED(started))
        return L"reader: cannot start corvane-reader.exe (error " + ResultCodeText(started) + L")";
    if (reader::IsFullConfinement(confinement))
        return L"reader: job with kill-on-close, one process and UI limits; restricted token at low "
               L"integrity";
    return L"reader: less confinement than documented: " + reader::MissingConfinement(confinement);
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
        reader::Confinement confinement;
        HRESULT started = reader::AskIdleChild(&confinement);
        JsonObject document;
        document["program"] = "corvane-cli";
        document["version"] = CORVANE_VERSION_TEXT;
        if (SUCCEEDED(started))
            document["reader"] = ConfinementJson(confinement);
        else
            document["reader"] = Utf8(ReaderLine(started, confinement));
        output.out = options.json ? FromUtf8(Json(document).Text()) + L"\n"
                                  : VersionLine() + L"\n" + ReaderLine(started, confinement) + L"\n";
        return output;
    }
    Result result = Dispatch(options);
    output.exitCode = result.exitCode;
    // A child that ran with less than its documented confinement is never passed over in silence.
    std::optional<reader::Confinement> confinement = reader::LastConfinement();
    if (confinement) {
        output.err = reader::ConfinementWarning(L"corvane-cli", *confinement);
        if (!output.err.empty())
            output.err += L"\n";
        if (options.json && result.bytes.empty())
            result.document["reader"] = ConfinementJson(*confinement);
    }
    // Bytes come first: types writes its JSON document as bytes.
    if (!result.bytes.empty())
        output.bytes = std::move(result.bytes);
    else if (options.json)
        output.out = FromUtf8(Json(result.document).Text()) + L"\n";
    else
        output.out = result.text;
    if (!result.error.empty())
        output.err += L"corvane-cli: " + result.error + L"\n";
    return output;
}

} // namespace cli
