#include "cli/arguments.h"

#include "common/text.h"
#include "version.h"

namespace cli {

namespace {

// Digits only, at most max; no sign, no blanks.
bool ParseNumber(const std::wstring& text, int base, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long long result = 0;
    for (wchar_t c : text) {
        int digit;
        if (c >= L'0' && c <= L'9')
            digit = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f')
            digit = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F')
            digit = c - L'A' + 10;
        else
            return false;
        result = result * base + digit;
        if (result > max)
            return false;
    }
    value = static_cast<unsigned long>(result);
    return true;
}

// What a command takes besides the options every command has.
enum class Operand { None, File, FileOrIdentity, Guid, TwoFiles };

struct CommandSpec {
    const wchar_t* name;
    Command command;
    Operand operand;
    const wchar_t* options[8]; // besides --user and --machine, which every command takes
};

// Constant tables: no code runs to build them.
constexpr CommandSpec kCommands[] = {
    {L"info", Command::Info, Operand::File, {}},
    {L"status", Command::Status, Operand::File, {}},
    {L"register", Command::Register, Operand::File, {}},
    // Inside unregister, --version names the library's version, not the program's.
    {L"unregister",
     Command::Unregister,
     Operand::FileOrIdentity,
     {L"--guid", L"--version", L"--lcid", L"--syskind", L"--backup"}},
    {L"check",
     Command::Check,
     Operand::FileOrIdentity,
     {L"--guid", L"--version", L"--lcid", L"--syskind", L"--all", L"--fix", L"--dry-run", L"--backup"}},
    {L"which", Command::Which, Operand::Guid, {}},
    {L"list", Command::List, Operand::None, {L"--broken"}},
    {L"export",
     Command::Export,
     Operand::File,
     {L"--install-dir", L"-o", L"--bitness", L"--format", L"--directory", L"--source-dir",
      L"--assembly-name"}},
    {L"types", Command::Types, Operand::File, {L"--idl", L"-o"}},
    {L"diff", Command::Diff, Operand::TwoFiles, {}},
    {L"help", Command::Help, Operand::None, {}},
};

// The state of one parse: what has been seen so far.
struct Parse {
    ParsedArguments parsed;
    const CommandSpec* command = nullptr;
    bool help = false;
    bool version = false;
    bool identityGiven[4] = {}; // --guid, --version, --lcid, --syskind
    std::vector<std::wstring> operands;
    Options& options() { return parsed.options; }
};

using Apply = std::wstring (*)(Parse& parse, const std::wstring& value);

struct OptionSpec {
    const wchar_t* name;
    bool takesValue;
    Apply apply; // gives an error, or "" when the option was taken
};

std::wstring Quoted(const std::wstring& text) {
    return L"'" + text + L"'";
}

std::wstring ApplyScope(Parse& parse, Scope scope) {
    Options& options = parse.options();
    if (options.scope && *options.scope != scope)
        return L"give either --user or --machine, not both";
    if (scope == Scope::Machine && options.command == Command::Export)
        return L"export writes machine-wide keys unless --user is given; --machine is not needed";
    options.scope = scope;
    return std::wstring();
}

std::wstring ApplyIdentityPart(Parse& parse, int part, bool parsed, const std::wstring& value,
                               const wchar_t* expected) {
    if (!parsed)
        return Quoted(value) + L" is not " + expected;
    parse.identityGiven[part] = true;
    return std::wstring();
}

std::wstring NonEmpty(const wchar_t* name, const std::wstring& value, std::wstring& target) {
    if (value.empty())
        return std::wstring(L"option '") + name + L"' needs a value";
    target = value;
    return std::wstring();
}

const OptionSpec kOptions[] = {
    {L"--user", false, [](Parse& p, const std::wstring&) { return ApplyScope(p, Scope::User); }},
    {L"--machine", false, [](Parse& p, const std::wstring&) { return ApplyScope(p, Scope::Machine); }},
    {L"--broken", false,
     [](Parse& p, const std::wstring&) {
         p.options().brokenOnly = true;
         return std::wstring();
     }},
    {L"--guid", true,
     [](Parse& p, const std::wstring& v) {
         return ApplyIdentityPart(p, 0, ParseGuid(v, p.options().identity.guid), v,
                                  L"a GUID (expected {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})");
     }},
    {L"--version", true,
     [](Parse& p, const std::wstring& v) {
         LibraryIdentity& identity = p.options().identity;
         return ApplyIdentityPart(p, 1, ParseVersion(v, identity.major, identity.minor), v,
                                  L"a version (expected M.m in decimal, each 0 to 65535)");
     }},
    {L"--lcid", true,
     [](Parse& p, const std::wstring& v) {
         return ApplyIdentityPart(p, 2, ParseLcid(v, p.options().identity.lcid), v,
                                  L"a locale id (expected a decimal number or 0x...)");
     }},
    {L"--syskind", true,
     [](Parse& p, const std::wstring& v) {
         return ApplyIdentityPart(p, 3, ParseSysKind(v, p.options().identity.syskind), v,
                                  L"a system kind (expected win16, win32 or win64)");
     }},
    {L"--all", false,
     [](Parse& p, const std::wstring&) {
         p.options().all = true;
         return std::wstring();
     }},
    {L"--fix", false,
     [](Parse& p, const std::wstring&) {
         p.options().fix = true;
         return std::wstring();
     }},
    {L"--dry-run", false,
     [](Parse& p, const std::wstring&) {
         p.options().dryRun = true;
         return std::wstring();
     }},
    {L"--backup", true,
     [](Parse& p, const std::wstring& v) { return NonEmpty(L"--backup", v, p.options().backupFile); }},
    {L"--install-dir", true,
     [](Parse& p, const std::wstring& v) { return NonEmpty(L"--install-dir", v, p.options().installDir); }},
    {L"--idl", false,
     [](Parse& p, const std::wstring&) {
         p.options().idl = true;
         return std::wstring();
     }},
    {L"-o", true, [](Parse& p, const std::wstring& v) { return NonEmpty(L"-o", v, p.options().outFile); }},
    {L"--bitness", true,
     [](Parse& p, const std::wstring& v) {
         if (v != L"32" && v != L"64")
             return Quoted(v) + L" is not a bitness (expected 32 or 64)";
         p.options().bitness = v == L"32" ? 32 : 64;
         return std::wstring();
     }},
    {L"--format", true,
     [](Parse& p, const std::wstring& v) {
         for (ExportFormat format : {ExportFormat::Reg, ExportFormat::Wxs, ExportFormat::Manifest})
             if (v == ExportFormatName(format)) {
                 p.options().format = format;
                 return std::wstring();
             }
         return Quoted(v) + L" is not an export format (expected reg, wxs or manifest)";
     }},
    {L"--directory", true,
     [](Parse& p, const std::wstring& v) { return NonEmpty(L"--directory", v, p.options().directoryId); }},
    {L"--source-dir", true,
     [](Parse& p, const std::wstring& v) { return NonEmpty(L"--source-dir", v, p.options().sourceDir); }},
    {L"--assembly-name", true,
     [](Parse& p, const std::wstring& v) {
         return NonEmpty(L"--assembly-name", v, p.options().assemblyName);
     }},
};

// The export options that belong to one format only; "" when the options fit together.
std::wstring ExportFormatError(const Options& options) {
    struct OnlyWith {
        const wchar_t* option;
        bool given;
        ExportFormat format;
    };
    const OnlyWith kOnlyWith[] = {
        {L"--install-dir", !options.installDir.empty(), ExportFormat::Reg},
        {L"--user", options.scope == Scope::User, ExportFormat::Reg},
        {L"--directory", options.directoryId != Options().directoryId, ExportFormat::Wxs},
        {L"--source-dir", !options.sourceDir.empty(), ExportFormat::Wxs},
        {L"--assembly-name", !options.assemblyName.empty(), ExportFormat::Manifest}};
    for (const OnlyWith& rule : kOnlyWith)
        if (rule.given && options.format != rule.format)
            return std::wstring(rule.option) + L" applies to --format " + ExportFormatName(rule.format) +
                   L" only";
    if (options.format == ExportFormat::Manifest && options.bitness)
        return L"--bitness does not apply to --format manifest: the library's system kind decides";
    return std::wstring();
}

bool IsOption(const std::wstring& arg) {
    return arg.size() > 1 && arg[0] == L'-';
}

// The options every position takes: they may stand before or after the command.
bool TakeGlobalOption(Parse& parse, const std::wstring& arg) {
    if (arg == L"--json")
        parse.options().json = true;
    else if (arg == L"--help" || arg == L"-h" || arg == L"/?")
        parse.help = true;
    else if (arg == L"--version" && !parse.command)
        parse.version = true;
    else
        return false;
    return true;
}

// An option the command takes: --user and --machine with every command, the rest as listed.
const OptionSpec* CommandOption(const Parse& parse, const std::wstring& arg) {
    if (!parse.command)
        return nullptr;
    bool listed = arg == L"--user" || arg == L"--machine";
    for (const wchar_t* name : parse.command->options)
        listed = listed || (name && arg == name);
    if (!listed)
        return nullptr;
    for (const OptionSpec& option : kOptions)
        if (arg == option.name)
            return &option;
    return nullptr;
}

ParsedArguments Fail(std::wstring message) {
    ParsedArguments parsed;
    parsed.error = std::move(message);
    return parsed;
}

// The operands, once every argument has been read.
std::wstring TakeOperands(Parse& parse) {
    Options& options = parse.options();
    const std::vector<std::wstring>& operands = parse.operands;
    auto tooMany = [&] { return L"too many arguments: " + Quoted(operands[1]); };
    switch (parse.command->operand) {
    case Operand::None:
        if (!operands.empty() && options.command == Command::List)
            return L"list takes no FILE: " + Quoted(operands[0]);
        return std::wstring();
    case Operand::File:
        if (operands.size() != 1)
            return operands.empty() ? L"missing FILE" : tooMany();
        options.file = operands[0];
        break;
    case Operand::TwoFiles:
        if (operands.size() != 2)
            return operands.size() < 2 ? L"missing OLD or NEW"
                                       : L"too many arguments: " + Quoted(operands[2]);
        if (operands[0].empty() || operands[1].empty())
            return L"FILE is empty";
        options.file = operands[0];
        options.otherFile = operands[1];
        return std::wstring();
    case Operand::Guid:
        if (operands.size() != 1)
            return operands.empty() ? L"missing GUID" : tooMany();
        if (!ParseGuid(operands[0], options.guid))
            return Quoted(operands[0]) + L" is not a GUID (expected {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})";
        return std::wstring();
    case Operand::FileOrIdentity: {
        const bool* given = parse.identityGiven;
        bool identity = given[0] || given[1] || given[2] || given[3];
        if (options.all) {
            if (identity || !operands.empty())
                return L"check --all takes no FILE and no --guid";
            return std::wstring();
        }
        if (identity) {
            if (!operands.empty())
                return L"give either FILE or --guid and --version, not both";
            if (!given[0] || !given[1])
                return given[0] ? L"missing --version M.m" : L"missing --guid {G}";
            options.byIdentity = true;
            options.lcidGiven = given[2];
            options.syskindGiven = given[3];
            return std::wstring();
        }
        if (operands.size() != 1)
            return operands.empty() ? L"missing FILE (or --guid and --version)" : tooMany();
        options.file = operands[0];
        break;
    }
    }
    return options.file.empty() ? L"FILE is empty" : std::wstring();
}

} // namespace

bool ParseVersion(const std::wstring& text, WORD& major, WORD& minor) {
    size_t dot = text.find(L'.');
    if (dot == std::wstring::npos)
        return false;
    unsigned long high, low;
    if (!ParseNumber(text.substr(0, dot), 10, 0xFFFF, high) ||
        !ParseNumber(text.substr(dot + 1), 10, 0xFFFF, low))
        return false;
    major = static_cast<WORD>(high);
    minor = static_cast<WORD>(low);
    return true;
}

bool ParseLcid(const std::wstring& text, LCID& lcid) {
    unsigned long value;
    bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    bool ok = hex ? ParseNumber(text.substr(2), 16, 0xFFFFFFFFul, value)
                  : ParseNumber(text, 10, 0xFFFFFFFFul, value);
    if (ok)
        lcid = value;
    return ok;
}

bool ParseSysKind(const std::wstring& text, SYSKIND& syskind) {
    for (SYSKIND kind : {SYS_WIN16, SYS_WIN32, SYS_WIN64})
        if (text == ToWide(PlatformKeyName(kind))) {
            syskind = kind;
            return true;
        }
    return false;
}

std::wstring SysKindName(SYSKIND syskind) {
    const char* name = PlatformKeyName(syskind);
    return name ? ToWide(name) : L"syskind " + DecimalText(static_cast<unsigned>(syskind));
}

const wchar_t* ExportFormatName(ExportFormat format) {
    return format == ExportFormat::Wxs ? L"wxs" : format == ExportFormat::Manifest ? L"manifest" : L"reg";
}

std::wstring VersionLine() {
    return L"corvane-cli " + ToWide(CORVANE_VERSION_TEXT);
}

std::wstring UsageText() {
    return L"Usage:\n"
           L"  corvane-cli info FILE                 the library in FILE and what the registry holds for it\n"
           L"  corvane-cli status FILE               one line; exit 0 registered to FILE, 1 not registered,\n"
           L"                                        3 registered to another or a missing file, 2 error\n"
           L"  corvane-cli register FILE             register the library in FILE\n"
           L"  corvane-cli unregister FILE           remove the registration of the library in FILE\n"
           L"  corvane-cli unregister --guid {G} --version M.m [--lcid N] [--syskind win16|win32|win64]\n"
           L"                                        remove a registration by identity (its file may be "
           L"gone)\n"
           L"                                        unregister takes --backup FILE.reg: what it removes, "
           L"first\n"
           L"  corvane-cli list [--broken]           registered libraries; --broken: only missing or "
           L"unreadable files\n"
           L"  corvane-cli export FILE [--user] [--install-dir DIR] [--bitness 32|64] [-o OUT.reg]\n"
           L"                                        what registering FILE would write, as a .reg file\n"
           L"                                        for 32- or 64-bit Windows (default: this one)\n"
           L"  corvane-cli export FILE --format wxs [--directory ID] [--source-dir DIR] [--bitness 32|64]\n"
           L"                                        [-o OUT.wxs]  the same as a WiX fragment\n"
           L"  corvane-cli export FILE --format manifest [--assembly-name NAME] [-o OUT.manifest]\n"
           L"                                        a manifest for registration-free use of the library\n"
           L"  corvane-cli check FILE | --guid {G} --version M.m [--lcid N] [--syskind K] | --all\n"
           L"            [--fix [--backup FILE.reg] | --dry-run]\n"
           L"                                        why a registered library fails: exit 0 sound, 3 "
           L"problems;\n"
           L"                                        --fix repairs what it can after a .reg backup\n"
           L"  corvane-cli which GUID                what the registry knows of a library, interface or "
           L"class id\n"
           L"                                        (exit 0 found, 1 nothing)\n"
           L"  corvane-cli types FILE [--json | --idl [-o OUT.idl]]\n"
           L"                                        every type in the library: an outline, JSON, or IDL\n"
           L"  corvane-cli diff OLD NEW              what changed from OLD to NEW, and whether it breaks\n"
           L"                                        clients of OLD: exit 0 same, 1 compatible, 4 breaking\n"
           L"  corvane-cli --help | --version\n"
           L"\n"
           L"FILE is a .tlb, .olb, .dll or .exe; \"lib.dll\\2\" names the library resource 2 in lib.dll.\n"
           L"--user: the current user's registrations (HKEY_CURRENT_USER\\Software\\Classes), which need no\n"
           L"administrator rights; --machine: the machine's only. Without either, info, status and list\n"
           L"answer for what Windows gives this user, and register and unregister act machine-wide.\n"
           L"--json (with any command) prints one JSON document instead of text. \"--\" ends the options.\n";
}

ParsedArguments ParseArguments(const std::vector<std::wstring>& args) {
    Parse parse;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (optionsEnded || !IsOption(arg)) {
            if (parse.command) {
                parse.operands.push_back(arg);
                continue;
            }
            for (const CommandSpec& command : kCommands)
                if (arg == command.name)
                    parse.command = &command;
            if (!parse.command)
                return Fail(L"unknown command " + Quoted(arg));
            parse.options().command = parse.command->command;
            continue;
        }
        if (arg == L"--") {
            optionsEnded = true;
            continue;
        }
        if (TakeGlobalOption(parse, arg))
            continue;
        const OptionSpec* option = CommandOption(parse, arg);
        if (!option)
            return Fail(L"unknown option " + Quoted(arg));
        std::wstring value;
        if (option->takesValue) {
            if (i + 1 >= args.size())
                return Fail(L"option " + Quoted(arg) + L" needs a value");
            value = args[++i];
        }
        std::wstring error = option->apply(parse, value);
        if (!error.empty())
            return Fail(error);
    }

    Options& options = parse.options();
    if (parse.help || (parse.command && options.command == Command::Help)) {
        options.command = Command::Help;
        return parse.parsed;
    }
    if (parse.version) {
        if (parse.command)
            return Fail(L"--version comes alone, not with a command");
        options.command = Command::Version;
        return parse.parsed;
    }
    if (!parse.command)
        return Fail(L"no command given");
    std::wstring error = TakeOperands(parse);
    if (!error.empty())
        return Fail(error);
    if (options.command == Command::Check && !options.backupFile.empty() && !options.fix)
        return Fail(L"--backup goes with --fix");
    // One JSON document and a .reg file cannot share standard output.
    if (options.command == Command::Export && options.json && options.outFile.empty())
        return Fail(L"export --json needs -o OUT.reg");
    if (options.command == Command::Export && !(error = ExportFormatError(options)).empty())
        return Fail(error);
    if (options.command == Command::Types &&
        (options.json ? options.idl : !options.idl && !options.outFile.empty()))
        return Fail(options.json ? L"give either --json or --idl, not both" : L"types -o needs --idl");
    return parse.parsed;
}

} // namespace cli
