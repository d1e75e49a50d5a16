// pack: stamps tags onto setup.exe, shows what setup.exe will see of a
// package, and checks a package directory before it ships.
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <vector>

#include "tools/pack/build_package.h"
#include "tools/pack/commands.h"
#include "tools/pack/package_view.h"

static void PrintUsage(FILE* stream) {
    (void)fputs(
        "usage: pack build INSTALLER_DIR OUT_DIR TAG... [options]\n"
        "       pack stamp SETUP.EXE TAG...\n"
        "       pack show DIRECTORY|SETUP.EXE\n"
        "       pack check DIRECTORY\n"
        "       pack --help | --version\n",
        stream);
}

static void PrintHelp() {
    printf(
        "NAME\n"
        "    pack - make and check setup.exe packages\n"
        "\n"
        "SYNOPSIS\n"
        "    pack build INSTALLER_DIR OUT_DIR TAG... [--msi] [--tags-as-files] [--force]\n"
        "               [--kit DIR] [--setup FILE] [--unzip FILE]\n"
        "    pack stamp SETUP.EXE TAG...\n"
        "    pack show DIRECTORY|SETUP.EXE\n"
        "    pack check DIRECTORY\n"
        "    pack --help | --version\n"
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
        "        --tags-as-files  the tags as empty files instead of lines in setup.exe\n"
        "        --force          replace an OUT_DIR that is not empty\n"
        "        --kit DIR        take setup.exe, unzip.exe (and on Windows zip.exe)\n"
        "                         from DIR; by default from pack's own folder\n"
        "        --setup FILE, --unzip FILE   take that one from FILE\n"
        "\n"
        "    stamp SETUP.EXE TAG...\n"
        "        Appends each TAG as a line ending in CR LF. Tags the tail already shows\n"
        "        are left alone. Refuses, changing nothing, when a name is not a tag or\n"
        "        when afterwards any of the tags would lie outside the last 256 bytes.\n"
        "        Warns when SETUP.EXE is signed (Authenticode): appending breaks the\n"
        "        signature, and signing after stamping moves the tags out of the tail.\n"
        "        The file is replaced in one step, so an error leaves it as it was.\n"
        "\n"
        "    show DIRECTORY|SETUP.EXE\n"
        "        Lists the tags setup.exe will see, each marked with where it was found\n"
        "        (tail, file), and the Windows versions the package installs on.\n"
        "\n"
        "    check DIRECTORY\n"
        "        Checks a package directory: setup.exe (a 32-bit x86 GUI program),\n"
        "        unzip.exe (a 32-bit x86 console program) and package.zip present;\n"
        "        package.zip readable by Info-ZIP, every entry's data testing clean\n"
        "        (unzip -t), SETUP.EXE at its root, every name spelled by some Windows\n"
        "        ANSI code page; at least one version tag; no tag text cut off from the\n"
        "        tail by data appended after it. Warns about a signed setup.exe,\n"
        "        debug.tag in the package directory, PostProcess.cmd at the archive\n"
        "        root, and archive paths longer than MAX_PATH (260) allows under the\n"
        "        working directory\n"
        "        %s\n"
        "        The archive is listed with 'unzip -Z1' and tested with 'unzip -t' (on\n"
        "        Windows the package's own unzip.exe).\n"
        "\n"
        "TAGS\n",
        TypicalWorkingDirectory);
    for (const VersionRow& row : VersionRows()) {
        const char* tag = TagForRow(row);
        printf("    %-10s installs on Windows %s (%s)\n", tag != nullptr ? tag : "-", row.Label, row.Note);
    }
    printf(
        "    %-10s silent installs run SETUP.EXE /qn REBOOT=ReallySuppress, not -s -SMS\n"
        "    %-10s the exit code reports the outcome (the installer's own code, 1633\n"
        "               refused, 82 no working directory, 1460 still running)\n"
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
        "    pack show pkg\n"
        "    pack check pkg\n",
        MsiTag, ExitCodeTag, LogTag, DebugTag);
}

static int BadUsage(const char* problem) {
    (void)fprintf(stderr, "pack: %s\n", problem);
    PrintUsage(stderr);
    (void)fputs("Try 'pack --help' for more.\n", stderr);
    return 2;
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
                                                : nullptr;
        if (value != nullptr) {
            if (i + 1 == args.size() || args[i + 1].empty()) {
                return BadUsage((arg + " needs a value").c_str());
            }
            *value = args[++i];
        } else if (arg == "--msi") {
            request.Msi = true;
        } else if (arg == "--tags-as-files") {
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
    request.InstallerDirectory = positional[0];
    request.OutputDirectory = positional[1];
    request.Tags.assign(positional.begin() + 2, positional.end());
    return BuildPackage(request);
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
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i].size() > 1 && args[i][0] == '-') {
            return BadUsage(("unknown option " + args[i]).c_str());
        }
    }
    if (command == "stamp") {
        if (args.size() < 3) {
            return BadUsage("stamp needs an executable and at least one tag");
        }
        return StampTags(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    }
    if (command == "show" || command == "check") {
        if (args.size() != 2) {
            return BadUsage((command + " needs exactly one package").c_str());
        }
        return command == "show" ? ShowPackage(args[1]) : CheckPackage(args[1]);
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
