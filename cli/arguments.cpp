// The command line of corvane-cli: commands, their operands and options.
#include "cli/cli.h"

#include <objbase.h>

#include "common/text.h"
#include "version.h"

namespace cli {

namespace {

bool IsOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

// Digits only, at most max; no sign, no blanks.
bool ParseNumber(const std::string& text, int base, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long long result = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        result = result * base + digit;
        if (result > max)
            return false;
    }
    value = result;
    return true;
}

Command CommandByName(const std::string& name, bool& known) {
    known = true;
    if (name == "info")
        return Command::Info;
    if (name == "status")
        return Command::Status;
    if (name == "register")
        return Command::Register;
    if (name == "unregister")
        return Command::Unregister;
    if (name == "list")
        return Command::List;
    if (name == "export")
        return Command::Export;
    if (name == "help")
        return Command::Help;
    known = false;
    return Command::Help;
}

ParsedArguments Fail(std::string message) {
    ParsedArguments parsed;
    parsed.error = std::move(message);
    return parsed;
}

} // namespace

bool ParseGuid(const std::string& text, GUID& guid) {
    return ::ParseGuid(ToWide(text), guid);
}

bool ParseVersion(const std::string& text, WORD& major, WORD& minor) {
    size_t dot = text.find('.');
    if (dot == std::string::npos)
        return false;
    unsigned long high, low;
    if (!ParseNumber(text.substr(0, dot), 10, 0xFFFF, high) ||
        !ParseNumber(text.substr(dot + 1), 10, 0xFFFF, low))
        return false;
    major = static_cast<WORD>(high);
    minor = static_cast<WORD>(low);
    return true;
}

bool ParseLcid(const std::string& text, LCID& lcid) {
    unsigned long value;
    bool ok = text.size() > 2 && (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0)
                  ? ParseNumber(text.substr(2), 16, 0xFFFFFFFFul, value)
                  : ParseNumber(text, 10, 0xFFFFFFFFul, value);
    if (ok)
        lcid = value;
    return ok;
}

bool ParseSysKind(const std::string& text, SYSKIND& syskind) {
    if (text == "win16")
        syskind = SYS_WIN16;
    else if (text == "win32")
        syskind = SYS_WIN32;
    else if (text == "win64")
        syskind = SYS_WIN64;
    else
        return false;
    return true;
}

std::string SysKindName(SYSKIND syskind) {
    const char* name = PlatformKeyName(syskind);
    return name ? name : "syskind " + std::to_string(static_cast<int>(syskind));
}

std::string GuidString(const GUID& guid) {
    return ToAnsi(GuidText(guid));
}

std::string VersionLine() {
    return std::string("corvane-cli ") + CORVANE_VERSION_TEXT;
}

std::string UsageText() {
    return "Usage:\n"
           "  corvane-cli info FILE                 the library in FILE and what the registry holds for it\n"
           "  corvane-cli status FILE               one line; exit 0 registered to FILE, 1 not registered,\n"
           "                                        3 registered to another or a missing file, 2 error\n"
           "  corvane-cli register FILE             register the library in FILE\n"
           "  corvane-cli unregister FILE           remove the registration of the library in FILE\n"
           "  corvane-cli unregister --guid {G} --version M.m [--lcid N] [--syskind win16|win32|win64]\n"
           "                                        remove a registration by identity (its file may be "
           "gone)\n"
           "  corvane-cli list [--broken]           registered libraries; --broken: only missing or "
           "unreadable files\n"
           "  corvane-cli export FILE [--user] [--install-dir DIR] [-o OUT.reg]\n"
           "                                        what registering FILE would write, as a .reg file\n"
           "  corvane-cli --help | --version\n"
           "\n"
           "FILE is a .tlb, .olb, .dll or .exe; \"lib.dll\\2\" names the library resource 2 in lib.dll.\n"
           "--user: the current user's registrations (HKEY_CURRENT_USER\\Software\\Classes), which need no\n"
           "administrator rights; --machine: the machine's only. Without either, info, status and list\n"
           "answer for what Windows gives this user, and register and unregister act machine-wide.\n"
           "--json (with any command) prints one JSON document instead of text. \"--\" ends the options.\n";
}

ParsedArguments ParseArguments(const std::vector<std::string>& args) {
    ParsedArguments parsed;
    Options& options = parsed.options;
    bool haveCommand = false;
    bool help = false;
    bool version = false;
    bool optionsEnded = false;
    bool haveGuid = false, haveVersion = false, haveLcid = false, haveSysKind = false;
    std::vector<std::string> operands;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || !IsOption(arg)) {
            if (!haveCommand) {
                bool known;
                options.command = CommandByName(arg, known);
                if (!known)
                    return Fail("unknown command '" + arg + "'");
                haveCommand = true;
            } else {
                operands.push_back(arg);
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            help = true;
        } else if (options.command == Command::Unregister && haveCommand &&
                   (arg == "--guid" || arg == "--version" || arg == "--lcid" || arg == "--syskind")) {
            // Inside unregister, --version names the library's version, not the program's.
            if (i + 1 >= args.size())
                return Fail("option '" + arg + "' needs a value");
            const std::string& value = args[++i];
            Identity& identity = options.identity;
            if (arg == "--guid") {
                if (!ParseGuid(value, identity.guid))
                    return Fail("'" + value +
                                "' is not a GUID (expected {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})");
                haveGuid = true;
            } else if (arg == "--version") {
                if (!ParseVersion(value, identity.major, identity.minor))
                    return Fail("'" + value +
                                "' is not a version (expected M.m in decimal, each 0 to 65535)");
                haveVersion = true;
            } else if (arg == "--lcid") {
                if (!ParseLcid(value, identity.lcid))
                    return Fail("'" + value + "' is not a locale id (expected a decimal number or 0x...)");
                haveLcid = true;
            } else {
                if (!ParseSysKind(value, identity.syskind))
                    return Fail("'" + value + "' is not a system kind (expected win16, win32 or win64)");
                haveSysKind = true;
            }
        } else if (arg == "--version" && !haveCommand) {
            version = true;
        } else if (arg == "--broken" && options.command == Command::List && haveCommand) {
            options.brokenOnly = true;
        } else if ((arg == "--user" || arg == "--machine") && haveCommand) {
            Scope scope = arg == "--user" ? Scope::User : Scope::Machine;
            if (options.scope && *options.scope != scope)
                return Fail("give either --user or --machine, not both");
            if (scope == Scope::Machine && options.command == Command::Export)
                return Fail(
                    "export writes machine-wide keys unless --user is given; --machine is not needed");
            options.scope = scope;
        } else if ((arg == "--install-dir" || arg == "-o") && haveCommand &&
                   options.command == Command::Export) {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return Fail("option '" + arg + "' needs a value");
            (arg == "-o" ? options.outFile : options.installDir) = args[++i];
        } else {
            return Fail("unknown option '" + arg + "'");
        }
    }

    if (help || (haveCommand && options.command == Command::Help)) {
        options.command = Command::Help;
        return parsed;
    }
    if (version) {
        if (haveCommand)
            return Fail("--version comes alone, not with a command");
        options.command = Command::Version;
        return parsed;
    }
    if (!haveCommand)
        return Fail("no command given");

    switch (options.command) {
    case Command::Info:
    case Command::Status:
    case Command::Register:
    case Command::Export:
        if (operands.size() != 1)
            return Fail(operands.empty() ? "missing FILE" : "too many arguments: '" + operands[1] + "'");
        options.file = operands[0];
        break;
    case Command::Unregister:
        if (haveGuid || haveVersion || haveLcid || haveSysKind) {
            if (!operands.empty())
                return Fail("give either FILE or --guid and --version, not both");
            if (!haveGuid || !haveVersion)
                return Fail(haveGuid ? "missing --version M.m" : "missing --guid {G}");
            options.byIdentity = true;
        } else {
            if (operands.size() != 1)
                return Fail(operands.empty() ? "missing FILE (or --guid and --version)"
                                             : "too many arguments: '" + operands[1] + "'");
            options.file = operands[0];
        }
        break;
    case Command::List:
        if (!operands.empty())
            return Fail("list takes no FILE: '" + operands[0] + "'");
        break;
    default:
        break;
    }
    if (options.file.empty() && !options.byIdentity && options.command != Command::List)
        return Fail("FILE is empty");
    // One JSON document and a .reg file cannot share standard output.
    if (options.command == Command::Export && options.json && options.outFile.empty())
        return Fail("export --json needs -o OUT.reg");
    return parsed;
}

} // namespace cli
