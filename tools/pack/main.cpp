// pack: stamps tags onto setup.exe, shows what setup.exe will see of a
// package, and checks a package directory before it ships.
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <vector>

#include "tools/pack/commands/build.h"
#include "tools/pack/commands/check.h"
#include "tools/pack/commands/show.h"
#include "tools/pack/commands/signing.h"
#include "tools/pack/commands/stamp.h"
#include "tools/pack/formats/tags.h"
#include "tools/pack/names/file_names.h"

// pack.exe does not sign (signtool signs there, then pack.exe stamps): its
// usage and manual leave out what only pack does.
#ifdef _WIN32
static const bool Signs = false;
#else
static const bool Signs = true;
#endif

static const char* OnlyWhereSigning(const char* text) {
    return Signs ? text : "";
}

// The forms after build, stamp and sign, each line led by lead ("pack "
// indented as the usage or the manual has it).
static void PrintReadingForms(FILE* stream, const char* lead) {
    const int continued = static_cast<int>(strlen(lead)) + 5;
    (void)fprintf(stream,
                  "%sshow DIRECTORY|SETUP.EXE [--ca CA.pem]\n"
                  "%sshow DIRECTORY|SETUP.EXE --return-codes intune|configmgr|winget|text\n"
                  "%*s[--success CODE,...] [--reboot CODE,...]\n"
                  "%scheck DIRECTORY [--ca CA.pem]\n"
                  "%s--help | --version\n",
                  lead, lead, continued, "", lead, lead);
}

static void PrintUsage(FILE* stream) {
    (void)fprintf(stream,
                  "usage: pack build INSTALLER_DIR OUT_DIR TAG... [options]\n"
                  "       pack stamp SETUP.EXE TAG...\n"
                  "%s",
                  OnlyWhereSigning("       pack sign DIRECTORY --sign-cert CERT.pem --sign-key KEY.pem | "
                                   "--sign-pkcs12 FILE.p12\n"));
    PrintReadingForms(stream, "       pack ");
}

static void PrintHelp() {
    printf(
        "NAME\n"
        "    pack - make and check setup.exe packages\n"
        "\n"
        "SYNOPSIS\n"
        "    pack build INSTALLER_DIR OUT_DIR TAG... [--msi] [--tag-files] [--force]\n"
        "               [--kit DIR] [--setup FILE] [--unzip FILE]%s\n"
        "    pack stamp SETUP.EXE TAG...\n"
        "%s",
        OnlyWhereSigning(" [SIGNING]"), OnlyWhereSigning("    pack sign DIRECTORY SIGNING\n"));
    PrintReadingForms(stdout, "    pack ");
    printf(
        "\n"
        "DESCRIPTION\n"
        "    A package is a directory holding setup.exe, the extractor unzip.exe, the\n"
        "    archive package.zip (with the package's installer SETUP.EXE at its root and,\n"
        "    optionally, PostProcess.cmd) and, optionally, tag files. Tags configure\n"
        "    setup.exe: each is given either as a line of text appended to setup.exe,\n"
        "    where only the last 256 bytes of the file are read (case-sensitive), or as a\n"
        "    file of that name in the package directory (any case). pack reads packages\n"
        "    with setup.exe's own tag search and version table.\n"
        "\n"
        "COMMANDS\n"
        "    build INSTALLER_DIR OUT_DIR TAG...\n"
        "        Makes the package OUT_DIR from the installer folder INSTALLER_DIR,\n"
        "        which must hold SETUP.EXE at its root (and may hold PostProcess.cmd):\n"
        "        package.zip with the folder's files, written by Info-ZIP Zip ('zip';\n"
        "        on Windows the kit's zip.exe) in name order with fixed time stamps and\n"
        "        no extra fields, so the same files give the same bytes; setup.exe with\n"
        "        the TAGs stamped; unzip.exe. Then checks it as 'check' does. The\n"
        "        package is written beside OUT_DIR and moved into place when done: a\n"
        "        refusal or an error leaves no OUT_DIR behind. Refuses a name that is\n"
        "        not a tag, an installer folder without SETUP.EXE, links in it, file\n"
        "        names Windows cannot hold or no Windows ANSI code page spells, an\n"
        "        OUT_DIR that is not empty or is a link, a file it cannot read, and\n"
        "        archive paths too long for MAX_PATH under the working directory\n"
        "        named below.\n"
        "        --msi            also an msi.tag file (Windows Installer switches)\n"
        "        --tag-files      the tags as empty files instead of lines in setup.exe\n"
        "                         (also --tags-as-files)\n"
        "        --force          replace an OUT_DIR that is not empty\n"
        "        --kit DIR        take setup.exe, unzip.exe (and on Windows zip.exe)\n"
        "                         from DIR; by default from pack's own folder\n"
        "        --setup FILE, --unzip FILE   take that one from FILE\n"
        "%s"
        "\n"
        "    stamp SETUP.EXE [--replace|--remove] TAG...\n"
        "        --replace: the stamped tags become exactly the TAGs given (none: no\n"
        "        tags); --remove: the TAGs are taken away. Otherwise:\n"
        "        Appends each TAG as a line ending in CR LF. Tags the tail already shows\n"
        "        are left alone. Refuses, changing nothing, when a name is not a tag or\n"
        "        when afterwards any of the tags would lie outside the last 256 bytes.\n"
        "        A signed (Authenticode) SETUP.EXE takes the tag lines inside its\n"
        "        certificate table, after the signature, where they are not hashed:\n"
        "        the signature stays valid. Stamping again rewrites them there, each\n"
        "        tag once. Refuses when the table does not end the file or is not one\n"
        "        aligned PKCS#7 entry. Windows rejects such a signature where the\n"
        "        certificate padding check (EnableCertPaddingCheck) is on.\n"
        "        The file is replaced in one step, so an error leaves it as it was.\n"
        "\n"
        "%s"
        "    show DIRECTORY|SETUP.EXE\n"
        "        Lists the tags setup.exe will see, each marked with where it was found\n"
        "        (tail, file), the signatures of setup.exe and unzip.exe, and the\n"
        "        Windows versions the package installs on.\n"
        "        --return-codes FORMAT  instead, every exit code setup.exe can end\n"
        "                         with, by the package's tags, as a deployment agent\n"
        "                         takes them: intune (a JSON array of returnCode and\n"
        "                         type), configmgr (CSV: return code, code type,\n"
        "                         name, description), winget (the installer\n"
        "                         manifest's InstallerSuccessCodes and\n"
        "                         ExpectedReturnCodes) or text (with meanings); what\n"
        "                         a format cannot carry goes to standard error\n"
        "        --success CODE,...     the installer's documented success codes\n"
        "        --reboot CODE,...      its codes for a success a restart finishes\n"
        "                         (both with exitcode.tag only: without it the\n"
        "                         installer's codes never reach the agent)\n"
        "\n"
        "    check DIRECTORY\n"
        "        Checks a package directory: setup.exe (a 32-bit x86 GUI program),\n"
        "        unzip.exe (a 32-bit x86 console program) and package.zip present;\n"
        "        package.zip readable by Info-ZIP, every entry's data testing clean\n"
        "        (unzip -t), SETUP.EXE at its root, every name spelled by some Windows\n"
        "        ANSI code page; at least one version tag; no tag text cut off from the\n"
        "        tail by data appended after it; each executable's signature none,\n"
        "        valid (the signer, with the chain checked against --ca CA.pem when\n"
        "        given) or broken, an error (verified with osslsigncode; pack.exe does\n"
        "        not verify). Warns about tags inside a signature, debug.tag in the\n"
        "        package directory, PostProcess.cmd at the archive root, a package\n"
        "        without exitcode.tag (an agent would read a refusal as success), and\n"
        "        archive paths longer than MAX_PATH (260) allows under the working\n"
        "        directory\n"
        "        %s\n"
        "        The archive is listed with 'unzip -Z1' and tested with 'unzip -t' (on\n"
        "        Windows the unzip.exe beside pack.exe, never the package's own).\n"
        "\n"
        "TAGS\n",
        OnlyWhereSigning(
            "        SIGNING          sign setup.exe and unzip.exe first, then stamp (see sign)\n"),
        Signs ? "    sign DIRECTORY SIGNING\n"
                "        Signs the package's setup.exe and unzip.exe with SHA-256 through\n"
                "        osslsigncode, replacing an old signature; tags setup.exe carried are\n"
                "        written back inside the new signature. pack.exe does not sign: sign\n"
                "        with signtool, then run pack stamp. SIGNING is\n"
                "        --sign-cert CERT.pem --sign-key KEY.pem, or --sign-pkcs12 FILE.p12;\n"
                "        --sign-password-file FILE  the key's password, its first line\n"
                "        --sign-password-env NAME   the key's password, from that environment\n"
                "                                   variable (never on the command line)\n"
                "        --timestamp URL            an RFC 3161 time-stamping server\n"
                "        --timestamp-timeout SECONDS how long to wait for its answer (60)\n"
                "\n"
              : "",
        TypicalWorkingDirectory);
    for (const VersionRow& row : VersionRows()) {
        const char* tag = TagForRow(row);
        printf("    %-10s installs on Windows %s (%s)\n", tag != nullptr ? tag : "-", row.Label, row.Note);
    }
    printf(
        "    %-10s silent installs run SETUP.EXE /qn REBOOT=ReallySuppress, not -s -SMS\n"
        "    %-10s the exit code reports the outcome (the installer's own code, 1633\n"
        "               refused, 82 no working directory, 1460 still running, ...:\n"
        "               pack show DIR --return-codes text); without it 1 once the\n"
        "               installation ran, 0 after a refusal or the usage box\n"
        "    %-10s each run writes QUILLER-YYYYMMDD-HHMMSS-PID.log in the\n"
        "               temporary directory\n"
        "    %-10s debug mode (diagnostic boxes); only as a file in the directory\n"
        "               setup.exe is started from, so it cannot be stamped\n"
        "\n"
        "EXIT STATUS\n"
        "    0  done; for check: no errors (there may be warnings)\n"
        "    1  refused, a file could not be read or written, or check found errors\n"
        "    2  bad usage\n"
        "\n"
        "EXAMPLES\n"
        "    pack build installer pkg wxp.tag vst.tag\n"
        "    pack stamp pkg/setup.exe wxp.tag vst.tag\n"
        "%s"
        "    pack show pkg\n"
        "    pack show pkg --return-codes intune --reboot 3011\n"
        "    pack check pkg\n",
        MsiTag, ExitCodeTag, LogTag, DebugTag,
        OnlyWhereSigning(
            "    pack build installer pkg wxp.tag vst.tag --sign-cert cert.pem --sign-key key.pem\n"));
}

static int BadUsage(const char* problem) {
    (void)fprintf(stderr, "pack: %s\n", problem);
    PrintUsage(stderr);
    (void)fputs("Try 'pack --help' for more.\n", stderr);
    return 2;
}

// The signing options' values, which build and sign take alike.
static std::string* SigningValue(const std::string& arg, SigningRequest& signing) {
    return arg == "--sign-cert"            ? &signing.Cert
           : arg == "--sign-key"           ? &signing.Key
           : arg == "--sign-pkcs12"        ? &signing.Pkcs12
           : arg == "--sign-password-file" ? &signing.PasswordFile
           : arg == "--sign-password-env"  ? &signing.PasswordVariable
           : arg == "--timestamp"          ? &signing.Timestamp
           : arg == "--timestamp-timeout"  ? &signing.TimestampTimeout
                                           : nullptr;
}

// pack build's arguments: the two folders, the tags, and its options.
static int Build(const std::vector<std::string>& args) {
    BuildRequest request;
    std::vector<std::string> positional;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string* value = arg == "--kit"     ? &request.Kit
                             : arg == "--setup" ? &request.Setup
                             : arg == "--unzip" ? &request.Unzip
                                                : SigningValue(arg, request.Signing);
        if (value != nullptr) {
            if (i + 1 == args.size() || args[i + 1].empty()) {
                return BadUsage((arg + " needs a value").c_str());
            }
            *value = args[++i];
        } else if (arg == "--msi") {
            request.Msi = true;
        } else if (arg == "--tags-as-files" || arg == "--tag-files") {
            request.TagsAsFiles = true;
        } else if (arg == "--force") {
            request.Force = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return BadUsage(("unknown option " + arg).c_str());
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 3) {
        return BadUsage("build needs an installer folder, an output folder and at least one tag");
    }
    const std::string signing = SigningProblem(request.Signing);
    if (!signing.empty()) {
        return BadUsage(signing.c_str());
    }
    std::string password;
    if (!LoadPassword(request.Signing, password)) {
        (void)fprintf(stderr, "pack: refused, nothing written: %s\n", password.c_str());
        return 1;
    }
    request.InstallerDirectory = positional[0];
    request.OutputDirectory = positional[1];
    request.Tags.assign(positional.begin() + 2, positional.end());
    return BuildPackage(request);
}

// pack show --return-codes FORMAT [--success CODE,...] [--reboot CODE,...].
static int ShowReturnCodes(const std::string& target, const std::string (&options)[3]) {
    ReturnCodeFormat format = ReturnCodeFormat::Text;
    std::vector<unsigned long> codes[2];
    std::string problem;
    if (!ReadReturnCodeFormat(options[0], format)) {
        return BadUsage(options[0].empty() ? "--success and --reboot go with --return-codes"
                                           : "--return-codes takes intune, configmgr, winget or text");
    }
    for (int i = 0; i < 2; ++i) {
        if (!options[i + 1].empty() && !ReadCodeList(options[i + 1], codes[i], problem)) {
            return BadUsage(((i == 0 ? "--success: " : "--reboot: ") + problem).c_str());
        }
    }
    return ShowReturnCodes(target, format, codes[0], codes[1]);
}

static int Run(const std::vector<std::string>& args) {
    if (args.empty()) {
        return BadUsage("no command given");
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        PrintHelp();
        return 0;
    }
    if (command == "--version") {
        printf("pack %s\n", SETUP_VERSION);
        return 0;
    }
    if (command == "build") {
        return Build(args);
    }
    // sign takes the signing options, show and check --ca, show the return
    // codes' options too; stamp none.
    SigningRequest signing;
    std::string ca;
    std::string returnCodes[3];  // --return-codes, --success, --reboot
    std::vector<std::string> plain = {command};
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string* value = command == "sign" ? SigningValue(arg, signing)
                             : (command == "show" || command == "check") && arg == "--ca" ? &ca
                             : command != "show"                                          ? nullptr
                             : arg == "--return-codes"                                    ? &returnCodes[0]
                             : arg == "--success"                                         ? &returnCodes[1]
                             : arg == "--reboot"                                          ? &returnCodes[2]
                                                                                          : nullptr;
        if (value != nullptr) {
            if (i + 1 == args.size() || args[i + 1].empty()) {
                return BadUsage((arg + " needs a value").c_str());
            }
            *value = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-' &&
                   !(command == "stamp" && i == 2 && (arg == "--replace" || arg == "--remove"))) {
            return BadUsage(("unknown option " + arg).c_str());
        } else {
            plain.push_back(arg);
        }
    }
    if (command == "sign") {
        const std::string problem = SigningProblem(signing);
        if (plain.size() != 2 || !problem.empty() || !signing.Wanted()) {
            return BadUsage(plain.size() != 2 ? "sign needs exactly one package"
                            : problem.empty() ? "sign needs --sign-cert and --sign-key, or --sign-pkcs12"
                                              : problem.c_str());
        }
        std::string password;
        if (!LoadPassword(signing, password)) {
            (void)fprintf(stderr, "pack: refused, nothing changed: %s\n", password.c_str());
            return 1;
        }
        return SignPackage(plain[1], signing);
    }
    if (command == "stamp") {
        if (args.size() < 3 || (args.size() == 3 && args[2] == "--remove")) {
            return BadUsage("stamp needs an executable and at least one tag");
        }
        const bool replace = args[2] == "--replace";
        if (replace || args[2] == "--remove") {
            return SetTags(args[1], std::vector<std::string>(args.begin() + 3, args.end()), !replace);
        }
        return StampTags(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    }
    if (command == "show" || command == "check") {
        if (plain.size() != 2) {
            return BadUsage((command + " needs exactly one package").c_str());
        }
        if (command == "show" &&
            !(returnCodes[0].empty() && returnCodes[1].empty() && returnCodes[2].empty())) {
            return ShowReturnCodes(plain[1], returnCodes);
        }
        return command == "show" ? ShowPackage(plain[1], ca) : CheckPackage(plain[1], "", ca);
    }
    return BadUsage(("unknown command " + command).c_str());
}

#ifdef _WIN32
// The arguments as UTF-8 from the wide command line, so that any name
// reaches pack, not only those the ANSI code page spells.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<size_t>(size > 0 ? size : 1), '\0');
        (void)WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &arg[0], size, nullptr, nullptr);
        arg.resize(strlen(arg.c_str()));
        args.push_back(arg);
    }
    return Run(args);
}
#else
int main(int argc, char** argv) {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
