// diff: what changed from one build of a library to another, each change classed by whether a
// client compiled against the old build still works with the new one. Both files are read
// through the reader like every file; the comparison runs on the two decoded content records.
#include <algorithm>
#include <map>

#include "catalogue/typelibfacts.h"
#include "cli/commands.h"
#include "cli/types.h"
#include "common/owners.h"
#include "common/text.h"

namespace cli {

namespace {

using reader::ImplementedContent;
using reader::MemberContent;
using reader::ParameterContent;
using reader::TypeContent;

struct Change {
    bool breaking = false;
    std::string kind;       // the type's kind, or "library"
    std::string type;       // the type's name; empty for the library itself
    std::string member;     // the member's name, or empty
    long long slot = -1;    // the member's vtable slot, where it has one
    bool hasDispid = false; // the member is called through IDispatch as well
    int32_t dispid = 0;
    std::string what;
    std::string before, after; // the old and the new state; one is empty for an addition or removal
};

// Names in a type library are not case-sensitive (a library keeps one spelling per name), so
// names and the types that name them are compared without case.
std::string Folded(std::string_view text) {
    std::string folded(text);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

bool Same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Folded(a) == Folded(b);
}

std::string GuidOf(const GUID& guid) {
    return ToAnsi(GuidText(guid));
}

// The parameter flags that decide how a value crosses a call; optional and defaultvalue only
// tell a caller what it may leave out.
constexpr uint32_t kPassingFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FRETVAL | PARAMFLAG_FLCID;
constexpr uint32_t kOptionalFlags = PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;

std::string FlagText(uint32_t flags, const FlagTable& names) {
    std::string text;
    AppendFlags(text, flags, names, false);
    return text.empty() ? "none" : text;
}

// Members of one type keyed by folded name (and invoke kind, as a property's get and put share
// a name); the second of a key is paired with the second, and so on.
using MemberIndex = std::map<std::string, std::vector<const MemberContent*>>;

std::string MemberKey(const MemberContent& member) {
    return Folded(member.name) + (member.isFunction ? "\x01" + DecimalAnsi(member.invokeKind) : "\x02");
}

MemberIndex IndexMembers(const TypeContent& type) {
    MemberIndex index;
    for (const MemberContent& member : type.members)
        index[MemberKey(member)].push_back(&member);
    return index;
}

class Comparison {
  public:
    Comparison(const TypesSource& before, const TypesSource& after) : before_(before), after_(after) {
        pointer_ = before.description.syskind == SYS_WIN64 ? 8 : 4;
        for (const TypeContent& type : before.content.types)
            if (type.kind == TKIND_ALIAS)
                aliasesBefore_.emplace(Folded(type.name), Folded(type.aliasOf));
        for (const TypeContent& type : after.content.types)
            if (type.kind == TKIND_ALIAS)
                aliasesAfter_.emplace(Folded(type.name), Folded(type.aliasOf));
    }

    std::vector<Change> Run() {
        Library();
        Types();
        return std::move(changes_);
    }

  private:
    // ---- Recording -------------------------------------------------------------------------

    void Add(bool breaking, const TypeContent* type, const MemberContent* member, std::string what,
             std::string before, std::string after) {
        Change change;
        change.breaking = breaking;
        change.kind = type ? KindName(type->kind) : "library";
        if (type)
            change.type = type->name;
        if (member) {
            change.member = member->name;
            if (member->isFunction && member->functionKind != FUNC_DISPATCH && type->kind == TKIND_INTERFACE)
                change.slot = member->vtableOffset / pointer_;
            change.hasDispid = type->kind == TKIND_DISPATCH || (type->flags & TYPEFLAG_FDUAL);
            change.dispid = member->id;
        }
        change.what = std::move(what);
        change.before = std::move(before);
        change.after = std::move(after);
        changes_.push_back(std::move(change));
    }

    void Compatible(const TypeContent* type, const MemberContent* member, std::string what,
                    std::string before, std::string after) {
        Add(false, type, member, std::move(what), std::move(before), std::move(after));
    }

    void Breaking(const TypeContent* type, const MemberContent* member, std::string what, std::string before,
                  std::string after) {
        Add(true, type, member, std::move(what), std::move(before), std::move(after));
    }

    // A difference in text that only documents: compatible.
    void Documented(const TypeContent* type, const MemberContent* member, const char* what,
                    const std::string& before, const std::string& after) {
        if (before != after)
            Compatible(type, member, what, before, after);
    }

    // A type's text with each alias of the library replaced by what it stands for, folded.
    static std::string Resolved(const std::string& type, const std::map<std::string, std::string>& aliases,
                                int depth = 0) {
        static const char kFirst[] = "abcdefghijklmnopqrstuvwxyz_";
        static const char kRest[] = "abcdefghijklmnopqrstuvwxyz_0123456789";
        std::string folded = Folded(type), out;
        size_t at = 0;
        for (size_t start; (start = folded.find_first_of(kFirst, at)) != std::string::npos;) {
            size_t end = std::min(folded.find_first_not_of(kRest, start), folded.size());
            out.append(folded, at, start - at);
            auto alias = aliases.find(folded.substr(start, end - start));
            // A damaged chain of aliases must not recurse without bound.
            if (alias != aliases.end() && depth < 16)
                out += Resolved(alias->second, aliases, depth + 1);
            else
                out.append(folded, start, end - start);
            at = end;
        }
        return out.append(folded, at, std::string::npos);
    }

    // A type that changed breaks a client; one spelled through an alias of the same type, or
    // without it, does not: an alias is resolved when a client is compiled.
    void TypeChange(const TypeContent& type, const MemberContent& member, const std::string& what,
                    const std::string& before, const std::string& after) {
        if (Same(before, after))
            return;
        bool same = Resolved(before, aliasesBefore_) == Resolved(after, aliasesAfter_);
        Add(!same, &type, &member, what + (same ? " spelled through an alias" : " changed"), before, after);
    }

    // ---- The library -------------------------------------------------------------------------

    void Library() {
        const LibraryDescription& a = before_.description;
        const LibraryDescription& b = after_.description;
        if (!IsEqualGUID(a.guid, b.guid))
            Breaking(nullptr, nullptr, "library GUID changed", GuidOf(a.guid), GuidOf(b.guid));
        if (a.major != b.major || a.minor != b.minor)
            Compatible(nullptr, nullptr, "version changed", VersionText(a.major, a.minor),
                       VersionText(b.major, b.minor));
        if (a.lcid != b.lcid)
            Compatible(nullptr, nullptr, "locale changed", DecimalAnsi(a.lcid), DecimalAnsi(b.lcid));
        // Another system kind changes the size of every pointer in every record and call.
        if (a.syskind != b.syskind)
            Breaking(nullptr, nullptr, "system kind changed", ToUtf8(SysKindName(a.syskind)),
                     ToUtf8(SysKindName(b.syskind)));
        if (a.flags != b.flags)
            Compatible(nullptr, nullptr, "flags changed", FlagText(a.flags, kLibraryFlags),
                       FlagText(b.flags, kLibraryFlags));
        Documented(nullptr, nullptr, "name changed", ToUtf8(a.name), ToUtf8(b.name));
        Documented(nullptr, nullptr, "documentation changed", ToUtf8(a.documentation),
                   ToUtf8(b.documentation));
        Documented(nullptr, nullptr, "help file changed", before_.content.helpFile, after_.content.helpFile);
        Documented(nullptr, nullptr, "help context changed", DecimalAnsi(before_.content.helpContext),
                   DecimalAnsi(after_.content.helpContext));
    }

    // ---- Pairing the types -------------------------------------------------------------------

    // The first type of each name, and of each GUID. A library may hold a second type of a
    // name (widl writes some aliases once per use); the first is the one a name finds.
    struct TypeIndex {
        std::map<std::string, const TypeContent*> byName;
        std::map<std::string, const TypeContent*> byGuid;
        explicit TypeIndex(const std::vector<TypeContent>& types) {
            for (const TypeContent& type : types) {
                byName.emplace(Folded(type.name), &type);
                if (!IsEqualGUID(type.guid, GUID_NULL))
                    byGuid.emplace(GuidOf(type.guid), &type);
            }
        }
        bool First(const TypeContent& type) const { return byName.at(Folded(type.name)) == &type; }
    };

    void Types() {
        TypeIndex before(before_.content.types), after(after_.content.types);
        std::map<const TypeContent*, bool> paired;
        for (const TypeContent& a : before_.content.types) {
            if (!before.First(a))
                continue;
            const TypeContent* b = nullptr;
            if (!IsEqualGUID(a.guid, GUID_NULL)) {
                auto found = after.byGuid.find(GuidOf(a.guid));
                b = found != after.byGuid.end() ? found->second : nullptr;
            }
            if (!b || paired[b]) {
                auto found = after.byName.find(Folded(a.name));
                b = found != after.byName.end() && !paired[found->second] ? found->second : nullptr;
            }
            if (!b) {
                Breaking(&a, nullptr, "type removed", std::string(KindName(a.kind)) + " " + a.name, "");
                continue;
            }
            paired[b] = true;
            Pair(a, *b);
        }
        for (const TypeContent& b : after_.content.types)
            if (after.First(b) && !paired[&b])
                Compatible(&b, nullptr, "type added", "", std::string(KindName(b.kind)) + " " + b.name);
    }

    void Pair(const TypeContent& a, const TypeContent& b) {
        if (a.name != b.name)
            Compatible(&a, nullptr, "name changed", a.name, b.name);
        if (a.kind != b.kind) {
            Breaking(&a, nullptr, "kind changed", KindName(a.kind), KindName(b.kind));
            return;
        }
        // A client compiled against OLD asks for the type by the GUID it had. An alias is the
        // exception: it is resolved when a client is compiled, and nothing asks for it at run time.
        if (!IsEqualGUID(a.guid, b.guid) && !IsEqualGUID(a.guid, GUID_NULL))
            Add(a.kind != TKIND_ALIAS, &a, nullptr, "GUID changed", GuidOf(a.guid), GuidOf(b.guid));
        else if (!IsEqualGUID(a.guid, b.guid))
            Compatible(&a, nullptr, "GUID given", GuidOf(a.guid), GuidOf(b.guid));
        if (a.major != b.major || a.minor != b.minor)
            Compatible(&a, nullptr, "version changed", VersionText(a.major, a.minor),
                       VersionText(b.major, b.minor));
        if (a.flags != b.flags)
            Compatible(&a, nullptr, "flags changed", FlagText(a.flags, kTypeFlags),
                       FlagText(b.flags, kTypeFlags));
        Documented(&a, nullptr, "documentation changed", a.documentation, b.documentation);
        Documented(&a, nullptr, "help context changed", DecimalAnsi(a.helpContext),
                   DecimalAnsi(b.helpContext));
        switch (a.kind) {
        case TKIND_INTERFACE:
            Interface(a, b);
            break;
        case TKIND_DISPATCH:
            Members(a, b, true);
            break;
        case TKIND_RECORD:
        case TKIND_UNION:
            Aggregate(a, b);
            break;
        case TKIND_ENUM:
            Members(a, b, false);
            break;
        case TKIND_ALIAS:
            if (!Same(a.aliasOf, b.aliasOf))
                Breaking(&a, nullptr, "aliased type changed", a.aliasOf, b.aliasOf);
            break;
        case TKIND_COCLASS:
            Coclass(a, b);
            break;
        case TKIND_MODULE:
            if (a.dllName != b.dllName)
                Breaking(&a, nullptr, "DLL changed", a.dllName, b.dllName);
            Members(a, b, false);
            break;
        }
    }

    // ---- Interfaces: the vtable ------------------------------------------------------------

    void Interface(const TypeContent& a, const TypeContent& b) {
        std::string baseA = a.implemented.empty() ? std::string() : a.implemented.front().name;
        std::string baseB = b.implemented.empty() ? std::string() : b.implemented.front().name;
        if (!Same(baseA, baseB))
            Breaking(&a, nullptr, "base interface changed", baseA, baseB);
        int32_t lastOffset = -1;
        for (const MemberContent& member : a.members)
            if (member.isFunction)
                lastOffset = std::max(lastOffset, member.vtableOffset);
        // A method after every old one is one an old client never calls; anywhere else it
        // takes a slot that an old client calls for another method.
        Members(a, b, false, [&](const MemberContent& added) {
            if (added.vtableOffset > lastOffset)
                Compatible(&b, &added, "method appended", "", Signature(added));
            else
                Breaking(&b, &added, "method inserted", "", Signature(added));
        });
    }

    // ---- Members paired by name ---------------------------------------------------------------

    // dispatch: the members are called through IDispatch alone, where a caller may leave out
    // trailing optional parameters. onAdded: what a member of NEW alone is; by default an
    // addition, compatible.
    template <class OnAdded>
    void Members(const TypeContent& a, const TypeContent& b, bool dispatch, OnAdded onAdded) {
        MemberIndex after = IndexMembers(b);
        std::map<std::string, size_t> taken;
        for (const MemberContent& old : a.members) {
            std::string key = MemberKey(old);
            auto found = after.find(key);
            size_t& next = taken[key];
            if (found == after.end() || next >= found->second.size()) {
                Breaking(&a, &old, std::string(MemberNoun(a, old)) + " removed", Description(old), "");
                continue;
            }
            const MemberContent& now = *found->second[next++];
            Member(a, old, now, dispatch);
        }
        for (const MemberContent& now : b.members) {
            std::string key = MemberKey(now);
            auto used = taken.find(key);
            size_t before = used == taken.end() ? 0 : used->second;
            const std::vector<const MemberContent*>& same = after[key];
            if (std::find(same.begin() + before, same.end(), &now) != same.end())
                onAdded(now);
        }
    }

    void Members(const TypeContent& a, const TypeContent& b, bool dispatch) {
        Members(a, b, dispatch, [&](const MemberContent& added) {
            Compatible(&b, &added, std::string(MemberNoun(b, added)) + " added", "", Description(added));
        });
    }

    static const char* MemberNoun(const TypeContent& type, const MemberContent& member) {
        if (member.isFunction)
            return type.kind == TKIND_MODULE ? "function" : "method";
        if (member.variableKind == VAR_CONST)
            return "constant";
        return type.kind == TKIND_DISPATCH ? "property" : "field";
    }

    static std::string Description(const MemberContent& member) {
        if (member.isFunction)
            return Signature(member);
        std::string text = Declaration(member.type, member.name);
        return member.variableKind == VAR_CONST ? text + " = " + member.value : text;
    }

    void Member(const TypeContent& type, const MemberContent& a, const MemberContent& b, bool dispatch) {
        bool dual = type.flags & TYPEFLAG_FDUAL;
        if (a.isFunction && type.kind == TKIND_INTERFACE && a.vtableOffset != b.vtableOffset)
            Breaking(&type, &a, "vtable slot changed", "slot " + DecimalAnsi(a.vtableOffset / pointer_),
                     "slot " + DecimalAnsi(b.vtableOffset / pointer_));
        // A late-bound client calls by the DISPID it looked up or compiled in.
        if (a.id != b.id && (dispatch || dual))
            Breaking(&type, &a, "DISPID changed", "0x" + UpperHex(static_cast<uint32_t>(a.id)),
                     "0x" + UpperHex(static_cast<uint32_t>(b.id)));
        if (a.isFunction)
            Function(type, a, b, dispatch);
        else if (a.variableKind == VAR_CONST) {
            if (a.value != b.value)
                Breaking(&type, &a, "value changed", a.value, b.value);
        } else {
            TypeChange(type, a, "type", a.type, b.type);
            if (a.variableKind == VAR_PERINSTANCE && a.offset != b.offset)
                Breaking(&type, &a, "offset changed", DecimalAnsi(a.offset), DecimalAnsi(b.offset));
        }
        if (a.flags != b.flags) {
            const FlagTable& names = a.isFunction ? kFunctionFlags : kVariableFlags;
            Compatible(&type, &a, "flags changed", FlagText(a.flags, names), FlagText(b.flags, names));
        }
        if (a.name != b.name)
            Compatible(&type, &a, "name's spelling changed", a.name, b.name);
        Documented(&type, &a, "documentation changed", a.documentation, b.documentation);
        Documented(&type, &a, "help context changed", DecimalAnsi(a.helpContext), DecimalAnsi(b.helpContext));
    }

    void Function(const TypeContent& type, const MemberContent& a, const MemberContent& b, bool dispatch) {
        TypeChange(type, a, "return type", a.type, b.type);
        if (a.callingConvention != b.callingConvention)
            Breaking(&type, &a, "calling convention changed", CallingConventionName(a.callingConvention),
                     CallingConventionName(b.callingConvention));
        // A lone "#" is no entry point: nothing could call the function through OLD's.
        if (a.entry != b.entry)
            Add(a.entry != "#", &type, &a, "entry point changed", a.entry, b.entry);
        if ((a.optionalCount == -1) != (b.optionalCount == -1))
            Breaking(&type, &a, "vararg changed", Signature(a), Signature(b));
        else if (a.optionalCount != b.optionalCount)
            Compatible(&type, &a, "count of optional parameters changed", DecimalAnsi(a.optionalCount),
                       DecimalAnsi(b.optionalCount));
        size_t common = std::min(a.parameters.size(), b.parameters.size());
        for (size_t i = 0; i < common; ++i) {
            const ParameterContent& p = a.parameters[i];
            const ParameterContent& q = b.parameters[i];
            std::string which = "parameter " + DecimalAnsi(i + 1) + " (" + p.name + ")";
            TypeChange(type, a, which + " type", p.type, q.type);
            if ((p.flags & kPassingFlags) != (q.flags & kPassingFlags))
                Breaking(&type, &a, which + " flags changed", FlagText(p.flags, kParameterFlags),
                         FlagText(q.flags, kParameterFlags));
            // Through IDispatch a caller may have left out a parameter that was optional.
            bool wasOptional = p.flags & kOptionalFlags, isOptional = q.flags & kOptionalFlags;
            if ((p.flags & kOptionalFlags) != (q.flags & kOptionalFlags) || p.defaultValue != q.defaultValue)
                Add(dispatch && wasOptional && !isOptional, &type, &a, which + " optional or default changed",
                    Signature(a), Signature(b));
            if (p.name != q.name)
                Compatible(&type, &a, which + " renamed", p.name, q.name);
        }
        if (a.parameters.size() == b.parameters.size())
            return;
        bool appendedOptional = dispatch && b.parameters.size() > a.parameters.size();
        for (size_t i = common; appendedOptional && i < b.parameters.size(); ++i)
            appendedOptional = b.parameters[i].flags & kOptionalFlags;
        if (appendedOptional)
            Compatible(&type, &a, "optional parameters added", Signature(a), Signature(b));
        else
            Breaking(&type, &a, "parameter count changed", Signature(a), Signature(b));
    }

    // ---- Records and unions: the layout ------------------------------------------------------

    void Aggregate(const TypeContent& a, const TypeContent& b) {
        // A size of 0 is none recorded (a library whose writer never laid the record out), which
        // no client could have compiled against.
        if (a.size != b.size)
            Add(a.size != 0 && b.size != 0, &a, nullptr, "size changed", DecimalAnsi(a.size),
                DecimalAnsi(b.size));
        if (a.alignment != b.alignment)
            Breaking(&a, nullptr, "alignment changed", DecimalAnsi(a.alignment), DecimalAnsi(b.alignment));
        Members(a, b, false);
    }

    // ---- Coclasses -----------------------------------------------------------------------------

    // The interface a coclass names as default (source: its default source), or "".
    static std::string Default(const TypeContent& type, bool source) {
        for (const ImplementedContent& implemented : type.implemented)
            if ((implemented.flags & IMPLTYPEFLAG_FDEFAULT) &&
                !(implemented.flags & IMPLTYPEFLAG_FSOURCE) == !source)
                return implemented.name;
        return std::string();
    }

    void Coclass(const TypeContent& a, const TypeContent& b) {
        for (const ImplementedContent& old : a.implemented) {
            auto now =
                std::find_if(b.implemented.begin(), b.implemented.end(),
                             [&](const ImplementedContent& each) { return Same(each.name, old.name); });
            if (now == b.implemented.end())
                Breaking(&a, nullptr, "interface removed", old.name, "");
            else if (now->flags != old.flags)
                Compatible(&a, nullptr, "interface " + old.name + " flags changed",
                           FlagText(old.flags, kImplementedFlags), FlagText(now->flags, kImplementedFlags));
        }
        for (const ImplementedContent& now : b.implemented)
            if (std::none_of(a.implemented.begin(), a.implemented.end(),
                             [&](const ImplementedContent& each) { return Same(each.name, now.name); }))
                Compatible(&a, nullptr, "interface added", "", now.name);
        for (bool source : {false, true}) {
            std::string before = Default(a, source), after = Default(b, source);
            if (!Same(before, after))
                Breaking(&a, nullptr, source ? "default source changed" : "default interface changed", before,
                         after);
        }
    }

    const TypesSource& before_;
    const TypesSource& after_;
    int32_t pointer_;
    std::map<std::string, std::string> aliasesBefore_, aliasesAfter_; // folded name: folded target
    std::vector<Change> changes_;
};

std::string Where(const Change& change) {
    std::string where;
    if (change.slot >= 0)
        where = "vtable slot " + DecimalAnsi(static_cast<unsigned long long>(change.slot));
    if (change.hasDispid)
        Append(where,
               {(where.empty() ? "" : ", "), "dispid 0x", UpperHex(static_cast<uint32_t>(change.dispid))});
    return where;
}

std::string ChangeLine(const Change& change) {
    std::string line = change.breaking ? "breaking    " : "compatible  ";
    if (change.type.empty())
        line += "library";
    else
        Append(line, {change.kind, " ", change.type});
    if (!change.member.empty())
        Append(line, {".", change.member});
    std::string where = Where(change);
    if (!where.empty())
        Append(line, {"  [", where, "]"});
    Append(line, {"  ", change.what});
    if (!change.before.empty() && !change.after.empty())
        Append(line, {": ", change.before, " -> ", change.after});
    else if (!change.before.empty() || !change.after.empty())
        Append(line, {": ", change.before, change.after});
    return line + "\n";
}

// One side read whole through the reader, on a thread of its own: each read is a child walking
// its file, and the two children walk at once.
struct Side {
    explicit Side(std::wstring file) : given(std::move(file)) {}
    std::wstring given;
    Result failure;
    TypesSource source;
    std::optional<OpenedFile> file;

    static DWORD WINAPI Read(void* side) {
        static_cast<Side*>(side)->ReadHere();
        return 0;
    }
    void ReadHere() {
        file = OpenFile("diff", given, failure, &source.content);
        if (file)
            source.description = file->description;
    }
};

JsonObject SideJson(const OpenedFile& file) {
    JsonObject side = FileJson(file.location);
    side["library"] = IdentityJson(file.description.Identity());
    return side;
}

} // namespace

Result Diff(const Options& options) {
    Result result;
    Side old(options.file), now(options.otherFile);
    KernelHandle reading(CreateThread(nullptr, 0, Side::Read, &now, 0, nullptr));
    old.ReadHere();
    if (!reading)
        now.ReadHere(); // no thread to spare: one after the other
    else
        WaitForSingleObject(reading.Get(), INFINITE);
    if (!old.file)
        return std::move(old.failure);
    if (!now.file)
        return std::move(now.failure);
    const TypesSource& before = old.source;
    const TypesSource& after = now.source;
    std::vector<Change> changes = Comparison(before, after).Run();

    size_t breaking = 0;
    for (const Change& change : changes)
        breaking += change.breaking;
    const LibraryDescription& a = before.description;
    const LibraryDescription& b = after.description;
    // The finding that matters most to whoever ships NEW: it claims to stand in for OLD.
    if (breaking && IsEqualGUID(a.guid, b.guid) && a.major == b.major) {
        Change finding;
        finding.breaking = true;
        finding.kind = "library";
        finding.what = "breaking changes under the same major version: clients of OLD " +
                       VersionText(a.major, a.minor) + " will call the wrong slot or read the wrong layout";
        changes.insert(changes.begin(), std::move(finding));
        ++breaking;
    }
    size_t compatible = changes.size() - breaking;
    result.exitCode = breaking ? kExitBreaking : compatible ? kExitCompatible : kExitOk;

    std::string text;
    for (const Change& change : changes)
        text += ChangeLine(change);
    if (changes.empty())
        text += "the same content\n";
    else
        Append(text,
               {"changes: ", DecimalAnsi(breaking), " breaking, ", DecimalAnsi(compatible), " compatible\n"});
    result.text = FromUtf8(text);

    JsonArray list;
    for (const Change& change : changes) {
        JsonObject entry;
        entry["class"] = change.breaking ? "breaking" : "compatible";
        entry["kind"] = change.kind;
        entry["type"] = change.type.empty() ? Json(nullptr) : Json(change.type);
        entry["member"] = change.member.empty() ? Json(nullptr) : Json(change.member);
        entry["slot"] = change.slot >= 0 ? Json(change.slot) : Json(nullptr);
        entry["dispid"] = change.hasDispid ? Json(change.dispid) : Json(nullptr);
        entry["change"] = change.what;
        entry["old"] = change.before.empty() ? Json(nullptr) : Json(change.before);
        entry["new"] = change.after.empty() ? Json(nullptr) : Json(change.after);
        list.push_back(std::move(entry));
    }
    result.document["command"] = "diff";
    result.document["old"] = SideJson(*old.file);
    result.document["new"] = SideJson(*now.file);
    result.document["changes"] = std::move(list);
    result.document["breaking"] = breaking;
    result.document["compatible"] = compatible;
    result.document["exitCode"] = result.exitCode;
    return result;
}

} // namespace cli
