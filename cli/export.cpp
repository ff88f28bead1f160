// export: what registering FILE would write, as a .reg file in regedit's own format. The
// system's own registration runs into a private key of ours and is read back; the live registry
// is left as it was.
#include "cli/commands.h"
#include "common/owners.h"
#include "common/files.h"
#include "common/text.h"
#include "registration/classesroot.h"
#include "registration/regfile.h"

namespace cli {

int ExportBitness(const Options& options) {
    // 64-bit Windows has two views of the interface keys, and each kind of client needs its own.
    return options.bitness ? options.bitness : RegistryViews().size() > 1 ? 64 : 32;
}

Result Export(const Options& options) {
    Result result;
    std::optional<OpenedFile> file = OpenFile("export", options.file, result);
    if (!file)
        return result;
    Scope scope = options.scope.value_or(Scope::Machine);
    JsonObject document;
    document["command"] = "export";
    document["file"] = FileJson(file->location);
    document["library"] = IdentityJson(file->description.Identity());
    document["scope"] = ScopeName(scope);
    RegistryTree tree;
    HRESULT hr = CaptureRegistration(options.file, tree);
    if (FAILED(hr))
        return Failure(std::move(document), L"finding what registering '" + options.file +
                                                L"' writes failed: error " + ResultCodeText(hr));
    std::string bytes;
    std::wstring summary;
    if (options.format != ExportFormat::Reg) {
        InstallerExport written = ExportForInstaller(options, *file, tree, document);
        if (!written.error.empty())
            return Failure(std::move(document), L"cannot export '" + options.file + L"' as " +
                                                    ExportFormatName(options.format) + L": " + written.error);
        bytes = std::move(written.bytes);
        summary = written.summary;
    } else {
        if (!options.installDir.empty())
            RelocateFolder(tree, FolderOf(file->location.filePath), options.installDir);
        int bitness = ExportBitness(options);
        if (bitness == 64)
            AddThirtyTwoBitInterfaceKeys(tree);
        document["bitness"] = bitness;
        // A machine-wide registration is written as regedit names the classes every user sees.
        std::wstring root = scope == Scope::User ? BranchKeyName(Scope::User) : L"HKEY_CLASSES_ROOT";
        bytes = RegFileBytes(RegFileText(tree, root));
        document["keys"] = tree.size();
        document["root"] = Utf8(root);
        summary = DecimalText(tree.size()) + L" keys under " + root + L" for " + DecimalText(bitness) +
                  L"-bit Windows";
    }
    if (options.outFile.empty()) {
        result.document = std::move(document);
        result.bytes = std::move(bytes);
        return result;
    }
    document["output"] = Utf8(options.outFile);
    if (FAILED(hr = WriteWholeFile(options.outFile, bytes)))
        return Failure(std::move(document),
                       L"cannot write '" + options.outFile + L"': error " + ResultCodeText(hr));
    result.document = std::move(document);
    result.text = L"exported: " + IdentityText(file->description.Identity()) + L", " + summary + L" -> " +
                  options.outFile + L"\n";
    return result;
}

} // namespace cli
