// The packaging tool run as a program on packages assembled here: exact exit
// statuses, the messages that name each fault, and files left untouched.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tools/pack/formats/cert_table.h"
#include "tools/pack/formats/extractor_report.h"
#include "tools/pack/formats/little_endian.h"
#include "tools/pack/formats/pe_image.h"
#include "tools/pack/formats/zip_archive.h"
#include "tools/pack/formats/zip_directory.h"
#include "tools/pack/names/file_names.h"

namespace fs = std::filesystem;

namespace {

struct PackResult {
    int exitCode;
    std::string output;  // standard output and standard error together
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs pack after prefix, a shell command such as "cd DIR &&" or "PATH=... ";
// its standard error goes to the file errorsTo when that is given.
PackResult RunPack(const std::vector<std::string>& args, const std::string& prefix = "",
                   const std::string& errorsTo = "") {
    std::string command = prefix + Quote(PACK_PROGRAM);
    for (const std::string& arg : args) {
        command += " " + Quote(arg);
    }
    command += errorsTo.empty() ? " 2>&1" : " 2>" + Quote(errorsTo);
    PackResult result{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");  // NOLINT(cert-env33-c): every argument is quoted
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, got);
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh directory for one test.
std::string Scratch(const std::string& name) {
    std::string path = std::string(SCRATCH_ROOT) + "/" + name;
    fs::remove_all(path);
    fs::create_directories(path);
    return path;
}

void Put(std::string& bytes, size_t offset, unsigned value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xff);
    }
}

// Where MakeExecutable's security directory entry and certificate table lie.
const size_t SecurityEntry = 0x58 + 96 + 4 * 8;
const size_t TableOffset = 0x400;
const size_t TableSize = 0x300;

const unsigned Gui = 2;
const unsigned Console = 3;

// A minimal 32-bit PE image: headers, one section that carries the tag
// names as the launcher's own code does, and optionally a certificate table
// after the image, as Authenticode signing leaves it: one WIN_CERTIFICATE
// whose DER blob fills it. A GUI program, as setup.exe is, unless subsystem
// says otherwise (Console: unzip.exe).
std::string MakeExecutable(bool signedImage = false, unsigned subsystem = Gui) {
    std::string pe(0x400, '\0');
    pe[0] = 'M';
    pe[1] = 'Z';
    Put(pe, 0x3c, 0x40, 4);
    pe.replace(0x40, 4, std::string("PE\0\0", 4));
    Put(pe, 0x44, 0x14c, 2);        // i386
    Put(pe, 0x46, 1, 2);            // one section
    Put(pe, 0x54, 96 + 16 * 8, 2);  // optional header with 16 directories
    Put(pe, 0x58, 0x10b, 2);        // PE32
    Put(pe, 0x58 + 68, subsystem, 2);
    Put(pe, 0x58 + 70, 0x8140, 2);  // DLL characteristics: NX compatible, relocatable
    Put(pe, 0x58 + 92, 16, 4);
    const size_t section = 0x58 + 96 + 16 * 8;
    pe.replace(section, 5, ".data");
    Put(pe, section + 16, 0x200, 4);  // raw size
    Put(pe, section + 20, 0x200, 4);  // raw offset
    std::string names;
    for (const char* tag : {"nt4.tag", "w2k.tag", "wxp.tag", "x64.tag", "s23.tag", "vst.tag", "msi.tag"}) {
        names.append(tag).push_back('\0');
    }
    pe.replace(0x200, names.size(), names);
    if (subsystem == Console) {
        // What UnZip says of itself, which no other program (zip.exe) says.
        const std::string says = "UnZip lists and extracts files in zip archives";
        pe.replace(0x300, says.size(), says);
    }
    if (signedImage) {
        Put(pe, SecurityEntry, TableOffset, 4);
        Put(pe, SecurityEntry + 4, TableSize, 4);
        std::string table(TableSize, '\x30');
        Put(table, 0, TableSize, 4);
        Put(table, 4, 0x0200, 2);  // revision 2.0
        Put(table, 6, 0x0002, 2);  // PKCS#7 signed data
        table.replace(8, 4, "\x30\x82\x02\xf4");
        pe += table;
    }
    return pe;
}

// Writes a zip archive with the given entries through Python's zipfile.
void MakeZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string script = "import zipfile\nz = zipfile.ZipFile(" + Quote(path) + ", 'w')\n";
    for (const auto& entry : entries) {
        script += "z.writestr(" + Quote(entry.first) + ", " + Quote(entry.second) + ")\n";
    }
    script += "z.close()\n";
    const std::string scriptPath = path + ".py";
    WriteFile(scriptPath, script);
    ASSERT_EQ(system(("python3 " + Quote(scriptPath)).c_str()), 0);  // NOLINT(cert-env33-c): quoted
    fs::remove(scriptPath);
}

// A package that passes the check: tags for every version in the tail, and
// exitcode.tag, as a package deployed through an agent has.
std::string MakeGoodPackage(const std::string& name) {
    std::string dir = Scratch(name);
    WriteFile(dir + "/setup.exe",
              MakeExecutable() +
                  "nt4.tag\r\nw2k.tag\r\nwxp.tag\r\nx64.tag\r\ns23.tag\r\nvst.tag\r\nexitcode.tag\r\n");
    WriteFile(dir + "/unzip.exe", MakeExecutable(false, Console));
    MakeZip(dir + "/package.zip", {{"SETUP.EXE", "installer"}, {"data/readme.txt", "hello"}, {"data/", ""}});
    return dir;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(PackStamp, AppendsMissingTagsAsLinesAndLeavesTagsInTheTailAlone) {
    const std::string dir = Scratch("stamp-appends");
    const std::string exe = dir + "/setup.exe";
    const std::string image = MakeExecutable();
    WriteFile(exe, image);
    chmod(exe.c_str(), 0755);

    PackResult first = RunPack({"stamp", exe, "wxp.tag", "vst.tag", "wxp.tag"});
    EXPECT_EQ(first.exitCode, 0) << first.output;
    EXPECT_TRUE(Contains(first.output, "appended wxp.tag, vst.tag (18 bytes)")) << first.output;
    EXPECT_EQ(ReadFile(exe), image + "wxp.tag\r\nvst.tag\r\n");

    PackResult second = RunPack({"stamp", exe, "vst.tag", "msi.tag"});
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_TRUE(Contains(second.output, "left alone: vst.tag")) << second.output;
    EXPECT_EQ(ReadFile(exe), image + "wxp.tag\r\nvst.tag\r\nmsi.tag\r\n");

    PackResult third = RunPack({"stamp", exe, "msi.tag"});
    EXPECT_EQ(third.exitCode, 0);
    EXPECT_TRUE(Contains(third.output, "unchanged")) << third.output;
    EXPECT_EQ(ReadFile(exe), image + "wxp.tag\r\nvst.tag\r\nmsi.tag\r\n");

    // --replace sets exactly the tags given, --remove takes some away.
    PackResult replaced = RunPack({"stamp", exe, "--replace", "nt4.tag", "wxp.tag"});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.output;
    EXPECT_EQ(ReadFile(exe), image + "nt4.tag\r\nwxp.tag\r\n");
    PackResult removed = RunPack({"stamp", exe, "--remove", "nt4.tag", "vst.tag"});
    EXPECT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_EQ(ReadFile(exe), image + "wxp.tag\r\n");

    struct stat info {};
    ASSERT_EQ(stat(exe.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    EXPECT_FALSE(Contains(first.output + second.output, "warning")) << first.output << second.output;

    // A stamped copy that ends one byte into its last 64 KiB write is written whole.
    std::string large = image;
    large.resize(65536 + 1 - 9, '\0');
    WriteFile(exe, large);
    PackResult boundary = RunPack({"stamp", exe, "wxp.tag"});
    EXPECT_EQ(boundary.exitCode, 0) << boundary.output;
    EXPECT_EQ(ReadFile(exe), large + "wxp.tag\r\n");
}

TEST(PackStamp, RefusesAndChangesNothing) {
    const std::string image = MakeExecutable();
    // wxp.tag near the start of the tail: nine more bytes push it out.
    const std::string edge = image + "wxp.tag\r\n" + std::string(240, 'z');
    const struct {
        const char* name;
        std::string contents;
        std::vector<std::string> tags;
        const char* message;
    } cases[] = {
        {"unknown", image, {"vst.tag", "foo.tag"}, "'foo.tag' is not a tag setup.exe knows"},
        {"upper-case", image, {"VST.TAG"}, "'VST.TAG' is not a tag"},
        {"debug", image, {"debug.tag"}, "debug.tag cannot be stamped: setup.exe looks for it only as a file"},
        {"pushes-out", edge, {"vst.tag"}, "wxp.tag would no longer lie within the last 256 bytes"},
    };
    for (const auto& c : cases) {
        const std::string dir = Scratch(std::string("stamp-refuses-") + c.name);
        WriteFile(dir + "/setup.exe", c.contents);
        std::vector<std::string> args = {"stamp", dir + "/setup.exe"};
        args.insert(args.end(), c.tags.begin(), c.tags.end());
        PackResult result = RunPack(args);
        EXPECT_EQ(result.exitCode, 1) << c.name;
        EXPECT_TRUE(Contains(result.output, "refused, nothing changed")) << c.name << ": " << result.output;
        EXPECT_TRUE(Contains(result.output, c.message)) << c.name << ": " << result.output;
        EXPECT_EQ(ReadFile(dir + "/setup.exe"), c.contents) << c.name;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << c.name;
    }
}

// A signed image as stamping leaves it: the tag lines after the blob and
// zeros to 8 bytes, the WIN_CERTIFICATE's length and the directory's size grown.
std::string WithTableTags(const std::string& signedImage, const std::string& lines) {
    const std::string padded = lines + std::string((8 - lines.size() % 8) % 8, '\0');
    std::string stamped = signedImage + padded;
    Put(stamped, SecurityEntry + 4, TableSize + padded.size(), 4);
    Put(stamped, TableOffset, TableSize + padded.size(), 4);
    return stamped;
}

TEST(PackStamp, WritesTagsInsideTheCertificateTableOfASignedExecutable) {
    const std::string dir = Scratch("stamp-signed");
    const std::string exe = dir + "/setup.exe";
    const std::string image = MakeExecutable(true);
    WriteFile(exe, image);
    PackResult first = RunPack({"stamp", exe, "wxp.tag", "vst.tag"});
    EXPECT_EQ(first.exitCode, 0) << first.output;
    EXPECT_EQ(ReadFile(exe), WithTableTags(image, "wxp.tag\r\nvst.tag\r\n"));
    EXPECT_TRUE(Contains(first.output, "wrote wxp.tag, vst.tag inside the signature's certificate table"))
        << first.output;
    EXPECT_TRUE(Contains(first.output, "warning: " + exe +
                                           " holds tags inside its signature's certificate "
                                           "table (wxp.tag, vst.tag): Windows rejects"))
        << first.output;

    // Again: rewritten in place, each tag once, never stacked after the table.
    PackResult second = RunPack({"stamp", exe, "vst.tag", "msi.tag"});
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_TRUE(Contains(second.output, "already inside the signature, left alone: vst.tag\n"))
        << second.output;
    EXPECT_EQ(ReadFile(exe), WithTableTags(image, "wxp.tag\r\nvst.tag\r\nmsi.tag\r\n"));
    PackResult third = RunPack({"stamp", exe, "msi.tag"});
    EXPECT_TRUE(Contains(third.output, "unchanged")) << third.output;
    EXPECT_EQ(ReadFile(exe), WithTableTags(image, "wxp.tag\r\nvst.tag\r\nmsi.tag\r\n"));

    // Tables the tags cannot go into: refused, nothing changed.
    std::string unaligned = image.substr(0, image.size() - 4);
    Put(unaligned, SecurityEntry + 4, TableSize - 4, 4);
    Put(unaligned, TableOffset, TableSize - 4, 4);
    std::string shortLength = image;
    Put(shortLength, TableOffset, TableSize - 8, 4);
    std::string foreign = image;
    foreign.replace(TableOffset + 10, 2, "\x02\xe4");  // the blob ends 16 bytes early
    foreign.replace(TableOffset + TableSize - 16, 16, "wxp.tag\r\nabcdefg");
    std::string zerosThenData = image;
    zerosThenData.replace(TableOffset + 10, 2, "\x02\xe4");
    zerosThenData.replace(TableOffset + TableSize - 16, 16, std::string(15, '\0') + "x");
    std::string longBlob = image;
    longBlob.replace(TableOffset + 10, 2, "\x02\xf5");
    std::string wrongType = image;
    Put(wrongType, TableOffset + 6, 1, 2);
    std::string overlaps = image;
    Put(overlaps, 0x58 + 96 + 16 * 8 + 16, 0x208, 4);  // the section's raw data runs into the table
    std::string pastEnd = image;
    Put(pastEnd, SecurityEntry + 4, TableSize + 8, 4);
    Put(pastEnd, TableOffset, TableSize + 8, 4);
    const struct {
        const char* name;
        std::string contents;
        const char* message;
    } cases[] = {
        {"appended", image + "wxp.tag\r\nnot a tag\r\n",
         "the certificate table does not end the file: 20 bytes follow it"},
        {"unaligned", unaligned, "(764 bytes at 1024) is not aligned to 8 bytes"},
        {"short-length", shortLength, "not one PKCS#7 WIN_CERTIFICATE filling it (length 760 of 768 bytes)"},
        {"wrong-type", wrongType, "not one PKCS#7 WIN_CERTIFICATE"},
        {"foreign", foreign, "holds 7 bytes after the signature that are neither tag lines nor zeros"},
        {"zeros-then-data", zerosThenData, "holds data after the zeros that follow the signature"},
        {"long-blob", longBlob, "holds no readable PKCS#7 blob"},
        {"past-end", pastEnd, "(776 bytes at 1024) passes the end of the file"},
        {"overlaps", overlaps, "the certificate table (at 1024) overlaps the image's headers or sections"},
    };
    for (const auto& c : cases) {
        WriteFile(exe, c.contents);
        PackResult result = RunPack({"stamp", exe, "wxp.tag"});
        EXPECT_EQ(result.exitCode, 1) << c.name;
        EXPECT_TRUE(Contains(result.output, "refused, nothing changed: " + exe + ": "))
            << c.name << ": " << result.output;
        EXPECT_TRUE(Contains(result.output, c.message)) << c.name << ": " << result.output;
        EXPECT_EQ(ReadFile(exe), c.contents) << c.name;
    }
}

TEST(PackCheck, TellsTheExtractorByWhatItIsAndALinkByItsReparseTag) {
    // A console program that is not UnZip, as zip.exe renamed would be.
    const std::string dir = MakeGoodPackage("not-an-extractor");
    std::string other = MakeExecutable(false, Console);
    other.replace(0x300, 46, std::string(46, '\0'));
    WriteFile(dir + "/unzip.exe", other);
    PackResult checked = RunPack({"check", dir});
    EXPECT_EQ(checked.exitCode, 1) << checked.output;
    EXPECT_TRUE(Contains(checked.output, "  error    unzip.exe is not Info-ZIP UnZip")) << checked.output;
    // Symbolic links and junctions lead elsewhere; deduplicated and cloud files do not.
    EXPECT_TRUE(ReparseTagIsLink(0xA000000CUL));
    EXPECT_TRUE(ReparseTagIsLink(0xA0000003UL));
    EXPECT_FALSE(ReparseTagIsLink(0x80000013UL));  // deduplicated
    EXPECT_FALSE(ReparseTagIsLink(0x9000001AUL));  // cloud files placeholder
    EXPECT_FALSE(ReparseTagIsLink(0x80000017UL));  // compressed files
    EXPECT_TRUE(ReparseTagIsLink(0xA000001DUL));   // a WSL symbolic link
    EXPECT_TRUE(ReparseTagIsLink(0x00C80000UL));   // not a tag of Microsoft's: Wine's for a Unix link
}

TEST(PackCheck, CountsANameSpelledOnlyByCodePagesThatReadItBackUnchanged) {
    // U+301C goes into 932 as 0x8160, which 932 reads back as U+FF5E.
    EXPECT_EQ(CodePagesSpelling("a\xe3\x80\x9c"
                                "b.txt"),
              "");
    EXPECT_EQ(CodePagesSpelling("a\xef\xbd\x9e"
                                "b.txt"),
              "932, 936, 949, 950");
    EXPECT_EQ(CodePagesSpelling("L\xc3\xa9"
                                "ame"),
              "936, 1250, 1252, 1254, 1256, 1257, 1258");
    // U+1EBF is in no table of 1258; the one-character-at-a-time conversion
    // the extractor makes does not split it into a letter and its accent.
    EXPECT_EQ(CodePagesSpelling("Ti\xe1\xba\xbf"
                                "ng.txt"),
              "");
}

TEST(PackStamp, ReportsAMissingOrUnreadableFile) {
    const std::string dir = Scratch("stamp-missing");
    PackResult missing = RunPack({"stamp", dir + "/nope.exe", "wxp.tag"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.output, "pack: cannot read " + dir + "/nope.exe: No such file or directory\n");
    EXPECT_FALSE(fs::exists(dir + "/nope.exe"));
    PackResult directory = RunPack({"stamp", dir, "wxp.tag"});
    EXPECT_EQ(directory.exitCode, 1);
    EXPECT_EQ(directory.output, "pack: cannot read " + dir + ": is a directory\n");

    // A folder where nothing new can be made (immutable, which holds for
    // root too): the stamped copy cannot be written, and that is said.
    const std::string image = MakeExecutable();
    WriteFile(dir + "/setup.exe", image);
    const std::string hold = "chattr +i " + Quote(dir) + " 2>/dev/null";
    if (system(hold.c_str()) != 0) {  // NOLINT(cert-env33-c): the path is quoted
        GTEST_SKIP() << "chattr +i is not available here";
    }
    PackResult unwritable = RunPack({"stamp", dir + "/setup.exe", "wxp.tag"});
    const std::string release = "chattr -i " + Quote(dir);
    EXPECT_EQ(system(release.c_str()), 0);  // NOLINT(cert-env33-c): the path is quoted
    EXPECT_EQ(unwritable.exitCode, 1) << unwritable.output;
    // The reason is the folder's: the new copy beside it cannot be made.
    EXPECT_TRUE(Contains(unwritable.output, "pack: cannot write " + dir +
                                                "/setup.exe, nothing changed: cannot create " + dir +
                                                "/setup.exe.pack-"))
        << unwritable.output;
    EXPECT_EQ(ReadFile(dir + "/setup.exe"), image);
}

TEST(PackShow, MarksWhereEachTagIsFoundAndTheVersionsItInstallsOn) {
    const std::string dir = Scratch("show");
    // Upper case in the tail does not count; as a file name it does. A zero
    // byte in the tail does not hide what follows it.
    WriteFile(dir + "/setup.exe",
              MakeExecutable() + "X64.TAG\r\nwxp.tag\r\n" + std::string(3, '\0') + "s23.tag\r\nlog.tag\r\n");
    WriteFile(dir + "/VST.TAG", "");
    WriteFile(dir + "/exitcode.tag", "");
    WriteFile(dir + "/s23.tag", "");
    fs::create_directory(dir + "/Msi.Tag");
    for (const std::string& target : {dir, dir + "/setup.exe"}) {
        PackResult result = RunPack({"show", target});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        for (const char* line :
             {"  wxp.tag    tail\n", "  s23.tag    tail, file s23.tag\n", "  vst.tag    file VST.TAG\n",
              "  msi.tag    file Msi.Tag\n", "  4          no   needs nt4.tag",
              "  5.1        yes  needs wxp.tag", "  5.2 x64    no   needs x64.tag",
              "  5.2 other  yes  needs s23.tag", "  6.x        yes  needs vst.tag",
              "silent installs run: SETUP.EXE /qn REBOOT=ReallySuppress",
              "exit code: the outcome (exitcode.tag): 0 installed; 3010 installed, restart required; ",
              "; 1603 extraction failed; ", "log: QUILLER-YYYYMMDD-HHMMSS-PID.log"}) {
            EXPECT_TRUE(Contains(result.output, line)) << "missing: " << line << "\n" << result.output;
        }
        EXPECT_FALSE(Contains(result.output, "x64.tag    ")) << result.output;
    }
}

TEST(PackShow, NamesTagsCutOffFromTheTailByLaterData) {
    const std::string dir = Scratch("show-cut-off");
    WriteFile(dir + "/setup.exe", MakeExecutable() + "vst.tag\r\n" + std::string(300, 'd') + "msi.tag\r\n");
    WriteFile(dir + "/log.tag", "");
    PackResult result = RunPack({"show", dir});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(Contains(result.output, "exit code: 1 installation ran; 0 refused or usage box (an agent"))
        << result.output;
    EXPECT_TRUE(Contains(result.output, "log: QUILLER-")) << result.output;
    EXPECT_TRUE(Contains(
        result.output,
        "  msi.tag    tail\n  log.tag    file log.tag\n  not seen: vst.tag at byte 1024, 318 bytes from "
        "the end"))
        << result.output;
    EXPECT_TRUE(Contains(result.output, "  6.x        no ")) << result.output;
}

TEST(PackShow, ReportsAPackageWithoutSetupExe) {
    const std::string dir = Scratch("show-empty");
    PackResult result = RunPack({"show", dir});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "pack: no setup.exe in " + dir + "\n");
}

TEST(PackCheck, PassesAGoodPackage) {
    const std::string dir = MakeGoodPackage("check-good");
    PackResult result = RunPack({"check", dir});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(Contains(result.output, "ok       package.zip (3 entries, SETUP.EXE at the root)"))
        << result.output;
    EXPECT_TRUE(Contains(result.output, "ok       unzip.exe (1024 bytes, 32-bit x86 console program)"))
        << result.output;
    EXPECT_TRUE(Contains(result.output, "installs on Windows 4, 5.0, 5.1, 5.2 x64, 5.2 other, 6.x"))
        << result.output;
    EXPECT_TRUE(Contains(result.output, "\n0 errors, 0 warnings\n")) << result.output;
}

TEST(PackCheck, FailsNamingTheFault) {
    const struct {
        const char* name;
        void (*spoil)(const std::string& dir);
        const char* message;
    } cases[] = {
        {"no-installer",
         [](const std::string& dir) {
             MakeZip(dir + "/package.zip", {{"sub/SETUP.EXE", "x"}, {"other.txt", "y"}});
         },
         "package.zip holds no SETUP.EXE at its root"},
        {"no-extractor", [](const std::string& dir) { fs::remove(dir + "/unzip.exe"); },
         "no unzip.exe in the package directory"},
        {"extractor-a-directory",
         [](const std::string& dir) {
             fs::remove(dir + "/unzip.exe");
             fs::create_directory(dir + "/unzip.exe");
         },
         "cannot read unzip.exe: "},
        {"launcher-without-extension",
         [](const std::string& dir) { fs::rename(dir + "/setup.exe", dir + "/setup"); },
         "no setup.exe in the package directory"},
        {"no-archive", [](const std::string& dir) { fs::remove(dir + "/package.zip"); },
         "no package.zip in the package directory"},
        {"not-a-zip", [](const std::string& dir) { WriteFile(dir + "/package.zip", "not a zip at all"); },
         "package.zip is not a readable zip archive (unzip -Z1 exit status 9)"},
        {"no-launcher", [](const std::string& dir) { fs::remove(dir + "/setup.exe"); },
         "no setup.exe in the package directory"},
        {"not-an-executable", [](const std::string& dir) { WriteFile(dir + "/setup.exe", "wxp.tag\r\n"); },
         "setup.exe is not a Windows executable"},
        {"tags-before-other-data",
         [](const std::string& dir) {
             WriteFile(dir + "/setup.exe", MakeExecutable(true) + "wxp.tag\r\n" + std::string(300, 'd'));
         },
         "wxp.tag at byte 1792 of setup.exe is 309 bytes from its end, outside the last 256 bytes setup.exe "
         "reads: "
         "the tag is not seen"},
        {"no-version-tag",
         [](const std::string& dir) { WriteFile(dir + "/setup.exe", MakeExecutable() + "msi.tag\r\n"); },
         "no version tag: setup.exe refuses every Windows version"},
        {"damaged-entry",
         [](const std::string& dir) {
             std::string zip = ReadFile(dir + "/package.zip");
             zip.replace(zip.find("hello"), 5, "jello");
             WriteFile(dir + "/package.zip", zip);
         },
         "package.zip: data/readme.txt: its data does not test clean"},
        {"extractor-text", [](const std::string& dir) { WriteFile(dir + "/unzip.exe", "11 bytes.\r\n"); },
         "unzip.exe is not a Windows executable"},
        {"extractor-gui", [](const std::string& dir) { WriteFile(dir + "/unzip.exe", MakeExecutable()); },
         "unzip.exe is not a console program (subsystem 2, expected 3)"},
        {"launcher-console",
         [](const std::string& dir) {
             WriteFile(dir + "/setup.exe", MakeExecutable(false, Console) + "wxp.tag\r\n");
         },
         "setup.exe is not a GUI program (subsystem 3, expected 2)"},
        {"launcher-64-bit",
         [](const std::string& dir) {
             std::string image = MakeExecutable() + "wxp.tag\r\n";
             Put(image, 0x44, 0x8664, 2);
             WriteFile(dir + "/setup.exe", image);
         },
         "setup.exe is built for 64-bit x64, not for 32-bit x86"},
        {"no-code-page-spells",
         [](const std::string& dir) {
             MakeZip(dir + "/package.zip", {{"SETUP.EXE", "x"}, {"docs/\xf0\x9f\x98\x80.txt", "y"}});
         },
         "package.zip: docs/\xf0\x9f\x98\x80.txt: no Windows ANSI code page (874, 932, 936, 949, 950, 1250 "
         "to "
         "1258) spells this name"},
    };
    for (const auto& c : cases) {
        const std::string dir = MakeGoodPackage(std::string("check-bad-") + c.name);
        c.spoil(dir);
        PackResult result = RunPack({"check", dir});
        EXPECT_EQ(result.exitCode, 1) << c.name << ": " << result.output;
        EXPECT_TRUE(Contains(result.output, "  error    " + std::string(c.message)))
            << c.name << ": " << result.output;
    }
    // A damaged entry is one error, named once.
    const std::string damaged = MakeGoodPackage("check-damaged-once");
    std::string zip = ReadFile(damaged + "/package.zip");
    zip.replace(zip.find("hello"), 5, "jello");
    WriteFile(damaged + "/package.zip", zip);
    EXPECT_TRUE(Contains(RunPack({"check", damaged}).output, "\n1 error, 0 warnings\n"));

    // An extractor whose test fails without naming an entry: the failure is
    // an error, and its own message follows the report so far.
    const std::string bin = Scratch("check-test-fails-bin");
    WriteFile(bin + "/unzip",
              "#!/bin/sh\n[ \"$1\" != -t ] || { echo 'its own message' >&2; exit 2; }\nexec /usr/bin/unzip "
              "\"$@\"\n");
    fs::permissions(bin + "/unzip", fs::perms::owner_all);
    PackResult failing = RunPack({"check", damaged}, "PATH=" + Quote(bin) + ":$PATH ");
    EXPECT_EQ(failing.exitCode, 1);
    EXPECT_TRUE(Contains(failing.output,
                         "at the root)\nits own message\n  error    package.zip does not test clean "
                         "(unzip -t exit status 2)\n"))
        << failing.output;

    // On Linux the system's unzip reads the archive even without unzip.exe;
    // without any unzip, the check says it cannot run one.
    const std::string dir = MakeGoodPackage("check-no-extractor");
    fs::remove(dir + "/unzip.exe");
    PackResult result = RunPack({"check", dir});
    EXPECT_TRUE(Contains(result.output, "  ok       package.zip (3 entries, SETUP.EXE at the root)"))
        << result.output;
    result = RunPack({"check", dir}, "PATH=/nonexistent ");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.output, "  error    cannot run unzip to read package.zip")) << result.output;
}

TEST(PackShow, SeesATagAtTheTailsFirstByteAndNamesA64BitMachine) {
    const std::string dir = Scratch("show-edge");
    std::string image = MakeExecutable();
    Put(image, 0x44, 0x8664, 2);
    // vst.tag starts exactly 256 bytes before the end: inside the tail.
    WriteFile(dir + "/setup.exe", image + "vst.tag" + std::string(256 - 7, 'p'));
    PackResult result = RunPack({"show", dir});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(Contains(result.output, "64-bit x64")) << result.output;
    EXPECT_TRUE(Contains(result.output, "  vst.tag    tail\n")) << result.output;
    EXPECT_FALSE(Contains(result.output, "not seen")) << result.output;
}

TEST(PackCheck, WarnsButPasses) {
    const struct {
        const char* name;
        void (*change)(const std::string& dir);
        const char* message;  // nullptr: no warning at all
    } cases[] = {
        {"debug-tag", [](const std::string& dir) { WriteFile(dir + "/Debug.Tag", ""); },
         "debug.tag in the package directory"},
        {"post-process",
         [](const std::string& dir) {
             MakeZip(dir + "/package.zip", {{"SETUP.EXE", "x"}, {"postprocess.CMD", "y"}});
         },
         "package.zip holds postprocess.CMD at its root: setup.exe runs it after SETUP.EXE"},
        {"path-too-long",
         [](const std::string& dir) {
             MakeZip(dir + "/package.zip", {{"SETUP.EXE", "x"}, {"d/" + std::string(183, 'n'), "y"}});
         },
         " (185 characters) passes MAX_PATH (260) under C:\\Documents and Settings\\"},
        // As stored, not as unzip -Z1 prints it (the control character as ^A).
        {"longest-path-that-fits-with-a-control-character",
         [](const std::string& dir) {
             MakeZip(dir + "/package.zip",
                     {{"SETUP.EXE", "x"}, {"d/" + std::string(181, 'n') + "\x01", "y"}});
         },
         nullptr},
        // MAX_PATH less the working directory's 75 characters and the terminating zero.
        {"longest-path-that-fits",
         [](const std::string& dir) {
             MakeZip(dir + "/package.zip", {{"SETUP.EXE", "x"}, {"d/" + std::string(182, 'n'), "y"}});
         },
         nullptr},
        {"stray-tag-given-as-file-too",
         [](const std::string& dir) {
             WriteFile(dir + "/setup.exe", MakeExecutable() + "vst.tag\r\n" + std::string(300, 'd'));
             WriteFile(dir + "/vst.tag", "");
             WriteFile(dir + "/exitcode.tag", "");
         },
         "vst.tag at byte 1024 of setup.exe is 309 bytes from its end, outside the last 256 bytes setup.exe "
         "reads "
         "(it is given elsewhere too)"},
        {"no-exitcode-tag",
         [](const std::string& dir) { WriteFile(dir + "/setup.exe", MakeExecutable() + "wxp.tag\r\n"); },
         "without exitcode.tag an agent reads a refusal (exit code 0) as success; add exitcode.tag (and "
         "log.tag) for deployments through an agent\n"},
    };
    for (const auto& c : cases) {
        const std::string dir = MakeGoodPackage(std::string("check-warns-") + c.name);
        c.change(dir);
        PackResult result = RunPack({"check", dir});
        EXPECT_EQ(result.exitCode, 0) << c.name << ": " << result.output;
        if (c.message != nullptr) {
            EXPECT_TRUE(Contains(result.output, "  warning  ")) << c.name << ": " << result.output;
            EXPECT_TRUE(Contains(result.output, c.message)) << c.name << ": " << result.output;
            EXPECT_TRUE(Contains(result.output, "\n0 errors, 1 warning\n"))
                << c.name << ": " << result.output;
        } else {
            EXPECT_TRUE(Contains(result.output, "\n0 errors, 0 warnings\n"))
                << c.name << ": " << result.output;
        }
    }
}

TEST(PackCheck, ReportsAMissingDirectory) {
    const std::string dir = Scratch("check-missing");
    PackResult result = RunPack({"check", dir + "/nope"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "pack: cannot read the package directory " + dir + "/nope\n");
}

TEST(PackUsage, BadUsageExitsWithTwo) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "pack: no command given\n"},
        {{"frob"}, "pack: unknown command frob\n"},
        {{"stamp", "setup.exe"}, "pack: stamp needs an executable and at least one tag\n"},
        {{"show"}, "pack: show needs exactly one package\n"},
        {{"check", "a", "b"}, "pack: check needs exactly one package\n"},
        {{"check", "--verbose", "a"}, "pack: unknown option --verbose\n"},
        {{"build", "in", "out"},
         "pack: build needs an installer folder, an output folder and at least one tag\n"},
        {{"build", "in", "out", "wxp.tag", "--kit"}, "pack: --kit needs a value\n"},
        // A password is never taken on the command line.
        {{"build", "in", "out", "wxp.tag", "--sign-password", "secret"},
         "pack: unknown option --sign-password\n"},
        {{"build", "in", "out", "wxp.tag", "--sign-cert", "c.pem"},
         "pack: --sign-cert and --sign-key go together\n"},
        {{"sign", "pkg", "--sign-pkcs12", "a.p12", "--sign-key", "k.pem"},
         "pack: --sign-pkcs12 replaces --sign-cert and --sign-key: give one or the other\n"},
        {{"sign", "pkg", "--timestamp", "http://127.0.0.1/"},
         "pack: --sign-password-file, --sign-password-env and --timestamp need"},
        {{"stamp", "setup.exe", "wxp.tag", "--ca", "ca.pem"}, "pack: unknown option --ca\n"},
        {{"show", "-v"}, "pack: unknown option -v\n"},
    };
    for (const auto& c : cases) {
        PackResult result = RunPack(c.args);
        EXPECT_EQ(result.exitCode, 2) << c.message;
        EXPECT_EQ(result.output.rfind(c.message, 0), 0u) << result.output;
        EXPECT_TRUE(Contains(result.output, "pack stamp SETUP.EXE TAG...\n")) << result.output;
        // A continued form lines up under its command.
        EXPECT_TRUE(Contains(result.output,
                             "\n       pack show DIRECTORY|SETUP.EXE --return-codes "
                             "intune|configmgr|winget|text\n                 [--success"))
            << result.output;
    }
}

TEST(PackUsage, HelpDescribesEveryCommandTagAndExitStatus) {
    for (const char* option : {"--help", "-h"}) {
        PackResult result = RunPack({option});
        EXPECT_EQ(result.exitCode, 0);
        for (const char* part : {"SYNOPSIS", "pack stamp SETUP.EXE TAG...", "pack show DIRECTORY|SETUP.EXE",
                                 "pack check DIRECTORY", "EXIT STATUS", "nt4.tag", "w2k.tag", "wxp.tag",
                                 "x64.tag", "s23.tag", "vst.tag", "msi.tag", "debug.tag"}) {
            EXPECT_TRUE(Contains(result.output, part)) << part;
        }
    }
}

namespace {

// An installer folder: SETUP.EXE, PostProcess.cmd, nested files, one of them
// read-only, and a name that zip would take for a wildcard.
std::string MakeInstallerFolder(const std::string& name) {
    std::string dir = Scratch(name);
    fs::create_directories(dir + "/files/bin");
    WriteFile(dir + "/SETUP.EXE", "installer");
    WriteFile(dir + "/PostProcess.cmd", "@echo off\r\n");
    WriteFile(dir + "/files/readme.txt", std::string(5000, 'r'));
    WriteFile(dir + "/files/bin/tool[1].txt", "tool");
    WriteFile(dir + "/files/locked.txt", "locked");
    chmod((dir + "/files/locked.txt").c_str(), 0444);
    return dir;
}

// The kit a build takes setup.exe and unzip.exe from.
std::string MakeKit(const std::string& name) {
    std::string dir = Scratch(name);
    WriteFile(dir + "/setup.exe", MakeExecutable());
    WriteFile(dir + "/unzip.exe", MakeExecutable(false, Console));
    return dir;
}

// The names in a directory, sorted.
std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");  // NOLINT(cert-env33-c): test commands
    char buffer[4096];
    size_t got = 0;
    while (pipe != nullptr && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, got);
    }
    if (pipe != nullptr) {
        pclose(pipe);
    }
    return output;
}

}  // namespace

TEST(PackBuild, MakesACheckedPackageThatExtractsAndIsTheSameBytesEveryTime) {
    const std::string installer = MakeInstallerFolder("build-installer");
    const std::string kit = MakeKit("build-kit");
    const std::string out = Scratch("build-out") + "/pkg";

    PackResult result = RunPack({"build", "--kit", kit, installer, out, "wxp.tag", "vst.tag"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(Contains(result.output, "0 errors")) << result.output;
    // Warned once, not failed, for want of exitcode.tag.
    const std::string warning = "  warning  without exitcode.tag an agent reads a refusal (exit code 0)";
    EXPECT_EQ(result.output.find(warning), result.output.rfind(warning)) << result.output;
    EXPECT_NE(result.output.find(warning), std::string::npos) << result.output;
    EXPECT_TRUE(
        Contains(result.output, "package.zip (5 files, SETUP.EXE at the root), setup.exe, unzip.exe\n"))
        << result.output;
    EXPECT_EQ(Names(out), (std::vector<std::string>{"package.zip", "setup.exe", "unzip.exe"}));
    EXPECT_EQ(Names(fs::path(out).parent_path().string()), std::vector<std::string>{"pkg"});
    EXPECT_EQ(ReadFile(out + "/setup.exe"), MakeExecutable() + "wxp.tag\r\nvst.tag\r\n");
    EXPECT_EQ(ReadFile(out + "/unzip.exe"), MakeExecutable(false, Console));
    EXPECT_EQ(RunPack({"check", out}).exitCode, 0);

    // Files only, in name order, at one fixed time, extracting to the same contents.
    EXPECT_EQ(Shell("unzip -Z1 " + Quote(out + "/package.zip")),
              "PostProcess.cmd\nSETUP.EXE\nfiles/bin/tool[1].txt\nfiles/locked.txt\nfiles/readme.txt\n");
    EXPECT_EQ(Shell("unzip -Z -T " + Quote(out + "/package.zip") + " | grep -c ' 19800101.000000 '"), "5\n");
    const std::string extracted = Scratch("build-extracted");
    Shell("unzip -q " + Quote(out + "/package.zip") + " -d " + Quote(extracted));
    EXPECT_EQ(ReadFile(extracted + "/files/readme.txt"), std::string(5000, 'r'));
    EXPECT_EQ(ReadFile(extracted + "/files/bin/tool[1].txt"), "tool");

    // Other time stamps, another place, another run: the same archive.
    Shell("touch -d '2001-02-03 04:05' " + Quote(installer + "/SETUP.EXE") + " " +
          Quote(installer + "/files/readme.txt"));
    const std::string again = Scratch("build-again") + "/other";
    ASSERT_EQ(RunPack({"build", installer, again, "wxp.tag", "vst.tag", "--kit", kit}).exitCode, 0);
    EXPECT_EQ(ReadFile(again + "/package.zip"), ReadFile(out + "/package.zip"));

    // Tags as files leave setup.exe as the kit has it; --msi adds msi.tag;
    // --force replaces a package that is there.
    result =
        RunPack({"build", installer, out, "w2k.tag", "--tags-as-files", "--msi", "--force", "--kit", kit});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(Names(out),
              (std::vector<std::string>{"msi.tag", "package.zip", "setup.exe", "unzip.exe", "w2k.tag"}));
    EXPECT_EQ(ReadFile(out + "/setup.exe"), MakeExecutable());
    EXPECT_EQ(Names(fs::path(out).parent_path().string()), std::vector<std::string>{"pkg"});
}

TEST(PackBuild, RefusesBadInputAndLeavesNothingBehind) {
    const std::string kit = MakeKit("refuse-kit");
    const std::string good = MakeInstallerFolder("refuse-good");
    const std::string noSetup = Scratch("refuse-nosetup");
    WriteFile(noSetup + "/setup.exe.txt", "not it");
    fs::create_directories(noSetup + "/sub");
    WriteFile(noSetup + "/sub/SETUP.EXE", "not at the root");
    const std::string longPath = MakeInstallerFolder("refuse-long");
    WriteFile(longPath + "/" + std::string(185, 'n'), "x");
    const std::string parent = Scratch("refuse-out");
    const std::string full = parent + "/full";
    fs::create_directories(full);
    WriteFile(full + "/keep.txt", "mine");
    WriteFile(full + "/setup.exe", "a package's own name does not make it a package");
    const std::string outside = Scratch("refuse-outside");
    WriteFile(outside + "/secret.txt", "secret");
    // Not a package, though each holds a package's own name; and a link to one.
    const std::string odd = Scratch("refuse-odd");
    fs::create_directories(odd + "/dir/setup.exe");
    fs::create_directories(odd + "/link");
    fs::create_symlink("../../refuse-outside/secret.txt", odd + "/link/setup.exe");
    fs::create_directories(odd + "/old");
    WriteFile(odd + "/old/setup.exe", "an old package");
    fs::create_directory_symlink("old", odd + "/to-old");
    fs::create_directory_symlink("../refuse-good/files", odd + "/to-files");

    // An installer folder with one thing that must be refused, named in the message.
    const struct {
        const char* name;
        void (*spoil)(const std::string& dir);
        const char* message;
    } folders[] = {
        {"link-out",
         [](const std::string& d) {
             fs::create_symlink("../../refuse-outside/secret.txt", d + "/files/lnk.txt");
         },
         "files/lnk.txt: a symbolic link"},
        {"link-in", [](const std::string& d) { fs::create_symlink("readme.txt", d + "/files/again.txt"); },
         "files/again.txt: a symbolic link"},
        {"link-dir", [](const std::string& d) { fs::create_directory_symlink("bin", d + "/files/bin2"); },
         "files/bin2: a symbolic link"},
        {"dangling", [](const std::string& d) { fs::create_symlink("nowhere", d + "/files/gone.txt"); },
         "files/gone.txt: a symbolic link"},
        {"fifo", [](const std::string& d) { mkfifo((d + "/files/pipe").c_str(), 0644); },
         "files/pipe: not a regular file"},
        {"colon", [](const std::string& d) { WriteFile(d + "/x:y", ""); }, "x:y: ':' in the name"},
        {"backslash", [](const std::string& d) { WriteFile(d + "/a\\..\\..\\evil.txt", ""); },
         "evil.txt: '\\' in the name"},
        {"star", [](const std::string& d) { WriteFile(d + "/files/a*b", ""); }, "files/a*b: '*' in the name"},
        {"device", [](const std::string& d) { WriteFile(d + "/files/con", ""); },
         "files/con: a device name reserved by Windows"},
        {"device-blank", [](const std::string& d) { WriteFile(d + "/files/CON .txt", ""); },
         "files/CON .txt: a device name reserved by Windows"},
        {"overlong-utf8", [](const std::string& d) { WriteFile(d + "/files/a\xe0\x82\x80.txt", ""); },
         "a name that is not UTF-8"},
        {"no-code-page",
         [](const std::string& d) {
             fs::create_directories(d + "/files/\xf0\x9f\x98\x80");
             WriteFile(d + "/files/\xf0\x9f\x98\x80/a.txt", "");
         },
         "files/\xf0\x9f\x98\x80/a.txt: no Windows ANSI code page (874, 932, 936, 949, 950, 1250 to 1258) "
         "spells this name, so unzip.exe refuses it on every system; rename it, or ship it inside an "
         "archive of the installer's own"},
        {"device-ext",
         [](const std::string& d) {
             fs::create_directories(d + "/Lpt1.dir/x");
             WriteFile(d + "/Lpt1.dir/x/f", "");
         },
         "Lpt1.dir: a device name reserved by Windows"},
        {"trailing", [](const std::string& d) { WriteFile(d + "/trail. ", ""); },
         "trail. : a name ending in a dot or a space"},
        {"carriage-return", [](const std::string& d) { WriteFile(d + "/files/a\rb", ""); },
         "a control character in the name"},
        {"not-utf8", [](const std::string& d) { WriteFile(d + "/files/caf\xe9.txt", ""); },
         "a name that is not UTF-8"},
        {"case-twins", [](const std::string& d) { WriteFile(d + "/setup.exe", "twin"); },
         "on Windows, which does not tell case apart"},
        {"case-twins-latin1",
         [](const std::string& d) {
             WriteFile(d + "/files/\xc3\x89t\xc3\xa9.txt", "");
             WriteFile(d + "/files/\xc3\xa9t\xc3\xa9.txt", "");
         },
         "t\xc3\xa9.txt on Windows, which does not tell case apart"},
    };
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{noSetup, parent + "/a", "wxp.tag"}, "no SETUP.EXE at the root of"},
        {{good, full, "wxp.tag"}, "exists and is not empty (--force replaces a package there)"},
        {{good, full, "wxp.tag", "--force"}, "holds keep.txt, which is not a package's own file"},
        {{good, parent + "/a", "wxp.tag", "xp.tag"}, "'xp.tag' is not a tag setup.exe knows"},
        {{good, parent + "/a", "debug.tag"}, "debug.tag cannot be stamped"},
        {{good, parent + "/a", "msi.tag", "exitcode.tag", "log.tag"}, "no version tag given"},
        {{good, odd + "/dir", "wxp.tag", "--force"}, "holds setup.exe, which is not a package's own file"},
        {{good, odd + "/link", "wxp.tag", "--force"}, "holds setup.exe, which is not a package's own file"},
        {{good, odd + "/to-old/", "wxp.tag", "--force"},
         "OUT_DIR " + odd + "/to-old/ is a symbolic link or junction"},
        {{good, odd + "/to-files/pkg", "wxp.tag"}, "lies inside the installer folder"},
        {{good, parent + "/none/pkg", "wxp.tag"},
         "the folder " + parent + "/none that is to hold OUT_DIR " + parent + "/none/pkg does not exist"},
        {{longPath, parent + "/a", "wxp.tag"}, "(185 characters) would pass MAX_PATH (260)"},
        {{good, good + "/files/pkg", "wxp.tag"}, "lies inside the installer folder"},
        {{good, good, "wxp.tag", "--force"}, "OUT_DIR " + good + " is the installer folder"},
        {{good, SCRATCH_ROOT, "wxp.tag", "--force"}, "contains the installer folder"},
        {{good, kit, "wxp.tag", "--force"}, "OUT_DIR " + kit + " is the kit folder"},
        {{good, kit + "/pkg", "wxp.tag"}, "lies inside the kit folder"},
        {{good, parent + "/a", "wxp.tag", "--setup", parent + "/none.exe"}, "none.exe (give the kit folder"},
    };
    for (const auto& folder : folders) {
        const std::string dir = MakeInstallerFolder(std::string("refuse-") + folder.name);
        folder.spoil(dir);
        cases.push_back({{dir, parent + "/a", "wxp.tag"}, folder.message});
    }
    const std::vector<std::string> goodNames = Names(good);
    const std::vector<std::string> kitNames = Names(kit);
    for (const auto& c : cases) {
        std::vector<std::string> args = {"build", "--kit", kit};
        args.insert(args.end(), c.first.begin(), c.first.end());
        PackResult result = RunPack(args);
        EXPECT_EQ(result.exitCode, 1) << c.second;
        EXPECT_TRUE(Contains(result.output, "refused, nothing ")) << result.output;
        EXPECT_TRUE(Contains(result.output, c.second)) << result.output;
        // Refused before anything was made or checked.
        EXPECT_FALSE(Contains(result.output, "cannot create")) << result.output;
        EXPECT_FALSE(Contains(result.output, "checking ")) << result.output;
        // Nothing made, nothing of the packager's deleted.
        EXPECT_EQ(Names(parent), std::vector<std::string>{"full"}) << c.second;
        EXPECT_EQ(Names(full), (std::vector<std::string>{"keep.txt", "setup.exe"})) << c.second;
        EXPECT_EQ(Names(good), goodNames) << c.second;
        EXPECT_EQ(ReadFile(good + "/files/readme.txt"), std::string(5000, 'r')) << c.second;
        EXPECT_EQ(Names(kit), kitNames) << c.second;
        EXPECT_EQ(ReadFile(outside + "/secret.txt"), "secret");
    }
    EXPECT_FALSE(fs::exists(good + "/files/pkg"));
    EXPECT_TRUE(fs::is_symlink(odd + "/to-old"));
    EXPECT_EQ(Names(odd + "/old"), std::vector<std::string>{"setup.exe"});

    // Without --kit the kit is pack's own folder, guarded all the same.
    const std::string own = fs::path(PACK_PROGRAM).parent_path().string();
    PackResult ownKit = RunPack({"build", good, own + "/pkg-in-kit", "wxp.tag"});
    EXPECT_EQ(ownKit.exitCode, 1);
    EXPECT_TRUE(Contains(ownKit.output, "pkg-in-kit lies inside the kit folder " + own)) << ownKit.output;
    EXPECT_FALSE(fs::exists(own + "/pkg-in-kit"));

    // A package the check fails (the kit's setup.exe is no executable) is
    // not moved into place either, and the aside directory is gone.
    const std::string badKit = MakeKit("refuse-badkit");
    WriteFile(badKit + "/setup.exe", "MZ but no more");
    PackResult result = RunPack({"build", "--kit", badKit, good, parent + "/a", "wxp.tag"});
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(Contains(result.output, "no package written: the check found errors")) << result.output;
    EXPECT_EQ(Names(parent), std::vector<std::string>{"full"});
}

TEST(PackBuild, KeepsNamesAndModesFromRelativePathsAndReplacesOnlyAPackage) {
    // An apostrophe in the path, relative paths from another directory.
    const std::string base = Scratch("names-it's");
    const std::string installer = base + "/inst";
    fs::create_directories(installer + "/docs");
    fs::create_directories(installer + "/empty");
    WriteFile(installer + "/SETUP.EXE", "installer");
    const std::vector<std::string> names = {
        "docs/L\xc3\xa9"
        "ame.txt",
        "docs/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt",
        "\xc3\x9c"
        "ber.ini",
        "docs/locked.txt",
        // Not devices, and not the same name: case is told apart per path.
        "COM0.txt", "LPT0.txt", "docs/X.txt", "x.txt"};
    for (const std::string& name : names) {
        WriteFile(installer + "/" + name, name);
    }
    chmod((installer + "/docs/locked.txt").c_str(), 0444);
    const std::string kit = MakeKit("names-kit");
    const std::string cd = "cd " + Quote(base) + " && ";

    PackResult result = RunPack({"build", "--kit", kit, "inst", "pkg", "wxp.tag"}, cd);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(Contains(result.output, "warning: empty directory empty is not packed")) << result.output;
    EXPECT_TRUE(Contains(result.output,
                         "docs/L\xc3\xa9"
                         "ame.txt is a name outside ASCII: spelled by the ANSI code "
                         "pages 936, 1250, 1252, 1254, 1256, 1257, 1258;"))
        << result.output;
    EXPECT_TRUE(Contains(result.output,
                         "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt is a name outside ASCII: spelled by "
                         "the ANSI code pages 932, 936, 949, 950;"))
        << result.output;
    EXPECT_EQ(Shell("grep -c 'outside ASCII' <<'EOF'\n" + result.output + "\nEOF"), "3\n");

    // Names outside ASCII are marked UTF-8 (bit 11), the others not; the
    // read-only file stays read-only; the names come back exactly.
    const std::string archive = base + "/pkg/package.zip";
    EXPECT_EQ(Shell("python3 -c 'import sys, zipfile\n"
                    "for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.flag_bits & 0x800, "
                    "oct(i.external_attr >> 16), i.filename)' " +
                    Quote(archive)),
              "0 0o100644 COM0.txt\n"
              "0 0o100644 LPT0.txt\n"
              "0 0o100644 SETUP.EXE\n"
              "2048 0o100644 docs/L\xc3\xa9"
              "ame.txt\n"
              "0 0o100644 docs/X.txt\n"
              "0 0o100444 docs/locked.txt\n"
              "2048 0o100644 docs/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt\n"
              "0 0o100644 x.txt\n"
              "2048 0o100644 \xc3\x9c"
              "ber.ini\n");
    const std::string extracted = Scratch("names-extracted");
    Shell("LC_ALL=C.UTF-8 unzip -q " + Quote(archive) + " -d " + Quote(extracted));
    for (const std::string& name : names) {
        EXPECT_EQ(ReadFile(extracted + "/" + name), name);
    }

    // A link to the package, however short its name, is not replaced.
    fs::create_directory_symlink("pkg", base + "/l");
    result = RunPack({"build", "--kit", kit, "inst", "l/", "vst.tag", "--force"}, cd);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.output, "OUT_DIR l/ is a symbolic link")) << result.output;
    fs::remove(base + "/l");

    // --force replaces a package, tag files and all, and nothing beside it.
    WriteFile(base + "/pkg/w2k.tag", "");
    WriteFile(base + "/pkg/Debug.tag", "");
    result = RunPack({"build", "--kit", kit, "inst", "pkg", "vst.tag", "--tags-as-files", "--force"}, cd);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(Names(base + "/pkg"),
              (std::vector<std::string>{"package.zip", "setup.exe", "unzip.exe", "vst.tag"}));
    EXPECT_EQ(Names(base), (std::vector<std::string>{"inst", "pkg"}));

    // Without zip there is no package, and it says why.
    result = RunPack({"build", "--kit", kit, "inst", "other", "wxp.tag"}, cd + "PATH=/nonexistent ");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(Contains(result.output, "cannot run zip to write package.zip")) << result.output;
    EXPECT_EQ(Names(base), (std::vector<std::string>{"inst", "pkg"}));
}

TEST(PackStamp, RefusesADamagedExecutableEverywhereAndChangesNothing) {
    // A security entry left stale (the table "at" 0x200, inside the image,
    // running to the end), and a file cut short inside its section.
    std::string stale = MakeExecutable();
    Put(stale, SecurityEntry, 0x200, 4);
    Put(stale, SecurityEntry + 4, 0x200, 4);
    const std::string cut = MakeExecutable().substr(0, 0x300);
    const std::pair<std::string, std::string> damaged[] = {
        {stale, "the certificate table (at 512) overlaps the image's headers or sections"},
        {cut, "the image ends at byte 1024, past the end of the file (768 bytes): the file was cut short"}};
    EXPECT_EQ(stale.size(), 0x400u);
    for (const auto& d : damaged) {
        const std::string dir = Scratch("damaged-" + std::to_string(d.first.size()));
        WriteFile(dir + "/setup.exe", d.first);
        WriteFile(dir + "/unzip.exe", MakeExecutable(false, Console));
        const std::string setup = dir + "/setup.exe";
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"stamp", setup, "vst.tag"},
              std::vector<std::string>{"sign", dir, "--sign-cert", dir + "/c.pem", "--sign-key",
                                       dir + "/k.pem"},
              std::vector<std::string>{"build", "--kit", dir, MakeInstallerFolder("damaged-installer"),
                                       Scratch("damaged-out") + "/pkg", "wxp.tag"}}) {
            PackResult refused = RunPack(args);
            EXPECT_EQ(refused.exitCode, 1) << args[0] << refused.output;
            EXPECT_TRUE(Contains(refused.output, "pack: refused, nothing ")) << args[0] << refused.output;
            EXPECT_TRUE(Contains(refused.output, setup + ": " + d.second + "\n"))
                << args[0] << refused.output;
            EXPECT_EQ(ReadFile(setup), d.first) << args[0];
        }
        PackResult checked = RunPack({"check", dir});
        EXPECT_EQ(checked.exitCode, 1) << checked.output;
        EXPECT_TRUE(Contains(checked.output, "  error    setup.exe")) << checked.output;
        EXPECT_TRUE(Contains(checked.output, d.second)) << checked.output;
    }
}

namespace {

// A throwaway CA, a code-signing certificate it issued (also as PKCS#12 with
// a password in a file), and a second CA that issued nothing here: made by
// openssl for these tests, never kept.
class PackSigned : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        keys = Scratch("signing-keys-" + std::to_string(getpid()));  // one per test program run
        const std::string made = Shell(
            "(set -e; cd " + Quote(keys) +
            "; printf 'basicConstraints=CA:FALSE\\nkeyUsage=critical,digitalSignature\\n"
            "extendedKeyUsage=codeSigning\\n' >ext.cnf"
            "; for ca in ca other; do openssl req -x509 -newkey rsa:2048 -nodes -keyout $ca.key -out $ca.pem"
            " -days 2 -subj \"/CN=Pack Test $ca\" -addext basicConstraints=critical,CA:TRUE"
            " -addext keyUsage=critical,keyCertSign; done"
            "; openssl req -newkey rsa:2048 -nodes -keyout key.pem -out cert.csr -subj '/CN=Pack Test "
            "Publisher'"
            "; openssl x509 -req -in cert.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile "
            "ext.cnf"
            " -out cert.pem; printf 'pass word\\n' >password.txt"
            "; openssl pkcs12 -export -in cert.pem -inkey key.pem -certfile ca.pem -out bundle.p12"
            " -passout file:password.txt) >/dev/null 2>&1 && echo made");
        ASSERT_TRUE(Contains(made, "made\n")) << made;
    }
    // A kit whose setup.exe and unzip.exe are executables, as signing needs.
    static std::string MakeSignableKit(const std::string& name) {
        std::string dir = Scratch(name);
        WriteFile(dir + "/setup.exe", MakeExecutable());
        WriteFile(dir + "/unzip.exe", MakeExecutable(false, Console));
        return dir;
    }
    static std::string Verify(const std::string& exe, const std::string& ca = "ca.pem") {
        return Shell("osslsigncode verify -CAfile " + Quote(keys + "/" + ca) + " -in " + Quote(exe));
    }
    // The file ends with lines, then zeros to a multiple of 8 bytes.
    static bool EndsWithLines(const std::string& bytes, const std::string& lines) {
        const size_t end = bytes.find_last_not_of('\0') + 1;
        return bytes.size() % 8 == 0 && bytes.size() - end < 8 && end >= lines.size() &&
               bytes.compare(end - lines.size(), lines.size(), lines) == 0;
    }
    static std::string keys;
};
std::string PackSigned::keys;

}  // namespace

TEST_F(PackSigned, BuildSignsThenStampsAndCheckTellsAValidSignatureFromABrokenOne) {
    const std::string installer = MakeInstallerFolder("signed-installer");
    const std::string kit = MakeSignableKit("signed-kit");
    const std::string out = Scratch("signed-out") + "/pkg";
    PackResult built = RunPack({"build", "--kit", kit, installer, out, "wxp.tag", "vst.tag", "--sign-cert",
                                keys + "/cert.pem", "--sign-key", keys + "/key.pem"});
    ASSERT_EQ(built.exitCode, 0) << built.output;
    EXPECT_TRUE(Contains(built.output, out + "/setup.exe: signed (SHA-256)\n")) << built.output;
    for (const char* name : {"/setup.exe", "/unzip.exe"}) {
        const std::string verified = Verify(out + name);
        EXPECT_TRUE(Contains(verified, "Signature verification: ok")) << name << verified;
        EXPECT_FALSE(Contains(verified, "invalid PE checksum")) << name << verified;
    }
    const std::string exe = out + "/setup.exe";
    EXPECT_TRUE(EndsWithLines(ReadFile(exe), "wxp.tag\r\nvst.tag\r\n"));

    PackResult checked = RunPack({"check", out, "--ca", keys + "/ca.pem"});
    EXPECT_EQ(checked.exitCode, 0) << checked.output;
    EXPECT_TRUE(Contains(checked.output,
                         "  ok       setup.exe signature: valid, signed by /CN=Pack Test Publisher "
                         "(chain checked against " +
                             keys + "/ca.pem)\n"))
        << checked.output;
    EXPECT_TRUE(
        Contains(checked.output, "  ok       unzip.exe signature: valid, signed by /CN=Pack Test Publisher"))
        << checked.output;
    EXPECT_TRUE(Contains(checked.output,
                         "  warning  setup.exe holds tags inside its signature's certificate table "
                         "(wxp.tag, vst.tag): Windows rejects the signature where the certificate "
                         "padding check (EnableCertPaddingCheck) is on"))
        << checked.output;
    EXPECT_TRUE(Contains(checked.output, "\n0 errors, 3 warnings\n")) << checked.output;
    PackResult shown = RunPack({"show", out});
    EXPECT_TRUE(
        Contains(shown.output,
                 "\nsignature: valid (chain not checked; give --ca), signed by /CN=Pack Test Publisher\n"))
        << shown.output;
    EXPECT_TRUE(Contains(shown.output, "  wxp.tag    tail\n")) << shown.output;
    EXPECT_TRUE(Contains(shown.output,
                         "setup.exe holds tags inside its signature's certificate table (wxp.tag, vst.tag)"))
        << shown.output;
    EXPECT_TRUE(Contains(shown.output,
                         "\nunzip.exe signature: valid (chain not checked; give --ca), signed by "
                         "/CN=Pack Test Publisher"))
        << shown.output;

    // Stamping twice keeps one set of tags, and the signature.
    for (int i = 0; i < 2; ++i) {
        PackResult stamped = RunPack({"stamp", exe, "vst.tag", "msi.tag"});
        EXPECT_EQ(stamped.exitCode, 0) << stamped.output;
    }
    const std::string bytes = ReadFile(exe);
    EXPECT_TRUE(EndsWithLines(bytes, "wxp.tag\r\nvst.tag\r\nmsi.tag\r\n"));
    EXPECT_EQ(bytes.find("vst.tag", TableOffset), bytes.rfind("vst.tag"));
    EXPECT_TRUE(Contains(Verify(exe), "Signature verification: ok"));
    // --replace and --remove rewrite the tags inside the signature.
    PackResult replaced = RunPack({"stamp", exe, "--replace", "nt4.tag", "w2k.tag"});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.output;
    EXPECT_TRUE(EndsWithLines(ReadFile(exe), "nt4.tag\r\nw2k.tag\r\n"));
    EXPECT_EQ(ReadFile(exe).find("wxp.tag\r\n"), std::string::npos);
    PackResult removed = RunPack({"stamp", exe, "--remove", "nt4.tag"});
    EXPECT_EQ(removed.exitCode, 0) << removed.output;
    const std::string remaining = ReadFile(exe);
    EXPECT_TRUE(EndsWithLines(remaining, "w2k.tag\r\n"));
    EXPECT_EQ(remaining.find("nt4.tag\r\n"), std::string::npos);
    EXPECT_TRUE(Contains(Verify(exe), "Signature verification: ok"));

    // Another CA's chain, a changed byte in the signed image, data after the table: broken.
    PackResult otherCa = RunPack({"check", out, "--ca", keys + "/other.pem"});
    EXPECT_EQ(otherCa.exitCode, 1) << otherCa.output;
    EXPECT_TRUE(Contains(otherCa.output,
                         "  error    setup.exe signature: BROKEN: osslsigncode verify fails: "
                         "unable to get local issuer certificate (CA " +
                             keys + "/other.pem)\n"))
        << otherCa.output;
    std::string changed = bytes;
    changed[0x210] ^= 1;
    WriteFile(exe, changed);
    checked = RunPack({"check", out});
    EXPECT_EQ(checked.exitCode, 1) << checked.output;
    EXPECT_TRUE(Contains(checked.output,
                         "  error    setup.exe signature: BROKEN: the signed bytes were changed after "
                         "signing"))
        << checked.output;
    WriteFile(out + "/unzip.exe", ReadFile(out + "/unzip.exe") + "wxp.tag\r\n");
    checked = RunPack({"check", out});
    EXPECT_TRUE(Contains(checked.output,
                         "  error    unzip.exe signature: BROKEN: the certificate table does not end "
                         "the file: 9 bytes follow it"))
        << checked.output;
    EXPECT_TRUE(Contains(checked.output, "\n2 errors, 3 warnings\n")) << checked.output;
}

TEST_F(PackSigned, TagFilesAndSignAPackageWithAPasswordFile) {
    const std::string installer = MakeInstallerFolder("signed-files-installer");
    const std::string kit = MakeSignableKit("signed-files-kit");
    const std::string out = Scratch("signed-files-out") + "/pkg";
    const std::vector<std::string> pkcs12 = {"--sign-pkcs12", keys + "/bundle.p12", "--sign-password-file",
                                             keys + "/password.txt"};
    std::vector<std::string> args = {"build", "--kit", kit, installer, out, "wxp.tag", "--tag-files"};
    args.insert(args.end(), pkcs12.begin(), pkcs12.end());
    PackResult built = RunPack(args);
    ASSERT_EQ(built.exitCode, 0) << built.output;
    EXPECT_EQ(Names(out), (std::vector<std::string>{"package.zip", "setup.exe", "unzip.exe", "wxp.tag"}));
    EXPECT_TRUE(Contains(Verify(out + "/setup.exe"), "Signature verification: ok"));
    PackResult checked = RunPack({"check", out, "--ca", keys + "/ca.pem"});
    EXPECT_EQ(checked.exitCode, 0) << checked.output;
    EXPECT_TRUE(Contains(checked.output, "\n0 errors, 2 warnings\n")) << checked.output;
    EXPECT_FALSE(Contains(checked.output, "EnableCertPaddingCheck")) << checked.output;

    // pack sign: the tags appended to an unsigned setup.exe go inside the new
    // signature; a wrong password changes nothing.
    const std::string dir = Scratch("sign-package");
    WriteFile(dir + "/setup.exe", MakeExecutable() + "wxp.tag\r\nmsi.tag\r\n");
    WriteFile(dir + "/unzip.exe", MakeExecutable(false, Console));
    WriteFile(keys + "/wrong.txt", "wrong\n");
    PackResult wrong = RunPack(
        {"sign", dir, "--sign-pkcs12", keys + "/bundle.p12", "--sign-password-file", keys + "/wrong.txt"});
    EXPECT_EQ(wrong.exitCode, 1) << wrong.output;
    EXPECT_TRUE(Contains(wrong.output, "pack: osslsigncode failed signing " + dir + "/setup.exe"))
        << wrong.output;
    EXPECT_EQ(ReadFile(dir + "/setup.exe"), MakeExecutable() + "wxp.tag\r\nmsi.tag\r\n");
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"setup.exe", "unzip.exe"}));
    // The password from a pipe, read once for both executables.
    args = {"sign", dir, "--sign-pkcs12", keys + "/bundle.p12", "--sign-password-file", "/dev/stdin"};
    PackResult signedPackage = RunPack(args, "printf 'pass word\\n' | ");
    EXPECT_EQ(signedPackage.exitCode, 0) << signedPackage.output;
    EXPECT_TRUE(Contains(signedPackage.output,
                         "setup.exe: signed (SHA-256), tags inside the signature: wxp.tag, "
                         "msi.tag\n"))
        << signedPackage.output;
    const std::string bytes = ReadFile(dir + "/setup.exe");
    EXPECT_TRUE(EndsWithLines(bytes, "wxp.tag\r\nmsi.tag\r\n"));
    EXPECT_EQ(bytes.find("wxp.tag\r\n"), bytes.rfind("wxp.tag\r\n"));
    EXPECT_TRUE(Contains(Verify(dir + "/setup.exe"), "Signature verification: ok"));
    EXPECT_TRUE(Contains(Verify(dir + "/unzip.exe"), "Signature verification: ok"));
    // Signed again, the password from the environment: the old signature is
    // replaced, the tags carried over once.
    args = {"sign", dir, "--sign-pkcs12", keys + "/bundle.p12", "--sign-password-env", "PACK_TEST_PASSWORD"};
    PackResult again = RunPack(args, "PACK_TEST_PASSWORD='pass word' ");
    EXPECT_EQ(again.exitCode, 0) << again.output;
    const std::string resigned = ReadFile(dir + "/setup.exe");
    EXPECT_TRUE(EndsWithLines(resigned, "wxp.tag\r\nmsi.tag\r\n"));
    EXPECT_EQ(resigned.find("wxp.tag\r\n"), resigned.rfind("wxp.tag\r\n"));
    EXPECT_TRUE(Contains(Verify(dir + "/setup.exe"), "Signature verification: ok"));

    // Tags appended after the signature: pack stamp moves them inside it,
    // and pack sign signs again with them inside.
    WriteFile(dir + "/setup.exe", resigned + "vst.tag\r\n");
    PackResult moved = RunPack({"stamp", dir + "/setup.exe", "nt4.tag"});
    EXPECT_EQ(moved.exitCode, 0) << moved.output;
    EXPECT_TRUE(Contains(moved.output, "moving the tags appended after the signature inside it"))
        << moved.output;
    EXPECT_TRUE(EndsWithLines(ReadFile(dir + "/setup.exe"), "wxp.tag\r\nmsi.tag\r\nvst.tag\r\nnt4.tag\r\n"));
    EXPECT_TRUE(Contains(Verify(dir + "/setup.exe"), "Signature verification: ok"));
    WriteFile(dir + "/setup.exe", resigned + "vst.tag\r\n");
    args = {"sign", dir};
    args.insert(args.end(), pkcs12.begin(), pkcs12.end());
    PackResult signedAgain = RunPack(args);
    EXPECT_EQ(signedAgain.exitCode, 0) << signedAgain.output;
    EXPECT_TRUE(EndsWithLines(ReadFile(dir + "/setup.exe"), "wxp.tag\r\nmsi.tag\r\nvst.tag\r\n"));
    EXPECT_TRUE(Contains(Verify(dir + "/setup.exe"), "Signature verification: ok"));

    // What pack sign refuses, or fails at: nothing changed.
    const std::string fake = Scratch("sign-fake-signer");
    // It reads the password as osslsigncode does, then writes nothing.
    WriteFile(fake + "/osslsigncode", "#!/bin/sh\ncat >/dev/null\nexit 0\n");
    chmod((fake + "/osslsigncode").c_str(), 0755);
    const struct {
        const char* name;
        std::string setup;  // "" for no setup.exe
        int extractor;      // 0 none, 1 whole, 2 cut short
        const char* prefix;
        const char* message;
    } cases[] = {
        {"no-extractor", MakeExecutable(), false, "", "refused: no unzip.exe in "},
        {"other-data", MakeExecutable() + "junk data", true, "",
         "setup.exe holds 9 bytes after its image that are not tag lines"},
        {"appended-after-signature", resigned + "vst.tag\r\nnot a tag\r\n", true, "",
         "setup.exe: the certificate table does not end the file: 20 bytes follow it"},
        {"no-signer", MakeExecutable(), true, "PATH=/nonexistent ", "cannot run osslsigncode to sign "},
        {"signer-writes-nothing", MakeExecutable(), true, "fake", "osslsigncode wrote no signed copy of "},
        {"no-password", MakeExecutable(), true, "",
         "refused, nothing changed: cannot read --sign-password-file "},
        {"damaged-extractor", MakeExecutable(), 2, "", "unzip.exe: the image ends at byte "},
    };
    for (const auto& c : cases) {
        const std::string package = Scratch(std::string("sign-refuses-") + c.name);
        WriteFile(package + "/setup.exe", c.setup);
        if (c.extractor != 0) {
            const std::string extractor = MakeExecutable(false, Console);
            WriteFile(package + "/unzip.exe", c.extractor == 1 ? extractor : extractor.substr(0, 1000));
        }
        const std::string prefix =
            std::string(c.prefix) == "fake" ? "PATH=" + Quote(fake) + ":\"$PATH\" " : std::string(c.prefix);
        args = {"sign", package};
        args.insert(args.end(), pkcs12.begin(), pkcs12.end());
        if (std::string(c.name) == "no-password") {
            args.back() = keys + "/missing.txt";
        }
        PackResult result = RunPack(args, prefix);
        EXPECT_EQ(result.exitCode, 1) << c.name << ": " << result.output;
        EXPECT_TRUE(Contains(result.output, c.message)) << c.name << ": " << result.output;
        EXPECT_EQ(ReadFile(package + "/setup.exe"), c.setup) << c.name;
    }
    // A setup.exe that cannot be read (a directory of that name) is named.
    const std::string unreadable = Scratch("sign-refuses-unreadable");
    fs::create_directory(unreadable + "/setup.exe");
    WriteFile(unreadable + "/unzip.exe", MakeExecutable(false, Console));
    args = {"sign", unreadable};
    args.insert(args.end(), pkcs12.begin(), pkcs12.end());
    PackResult unread = RunPack(args);
    EXPECT_EQ(unread.exitCode, 1) << unread.output;
    EXPECT_TRUE(Contains(unread.output, "pack: cannot read " + unreadable + "/setup.exe: ")) << unread.output;
}

TEST_F(PackSigned, TimestampsThroughAnRfc3161ServerOnThisMachine) {
    // A time-stamping authority that the test CA certified, answering on
    // 127.0.0.1 through openssl ts.
    const std::string tsa = Scratch("signed-tsa");
    WriteFile(tsa + "/tsa.cnf",
              "[tsa]\ndefault_tsa = tsa1\n[tsa1]\nserial = ./serial\nsigner_cert = ./tsa.pem\n"
              "signer_key = ./tsa.key\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
              "digests = sha256\naccuracy = secs:1\ness_cert_id_alg = sha256\ncerts = ./tsa.pem\n");
    WriteFile(tsa + "/serial", "01\n");
    WriteFile(tsa + "/server.py",
              "import http.server, subprocess\n"
              "class Reply(http.server.BaseHTTPRequestHandler):\n"
              "    def do_POST(self):\n"
              "        open('query.tsq', 'wb').write(self.rfile.read(int(self.headers['Content-Length'])))\n"
              "        subprocess.run(['openssl', 'ts', '-reply', '-config', 'tsa.cnf', '-queryfile', "
              "'query.tsq',\n"
              "                        '-out', 'reply.tsr'], check=True, capture_output=True)\n"
              "        data = open('reply.tsr', 'rb').read()\n"
              "        self.send_response(200)\n"
              "        self.send_header('Content-Type', 'application/timestamp-reply')\n"
              "        self.send_header('Content-Length', str(len(data)))\n"
              "        self.end_headers()\n"
              "        self.wfile.write(data)\n"
              "server = http.server.HTTPServer(('127.0.0.1', 0), Reply)\n"
              "open('port.txt', 'w').write(str(server.server_address[1]))\n"
              "server.serve_forever()\n");
    const std::string made =
        Shell("(set -e; cd " + Quote(tsa) +
              "; openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj '/CN=Pack Test TSA'"
              "; printf 'basicConstraints=CA:FALSE\\nkeyUsage=critical,digitalSignature\\n"
              "extendedKeyUsage=critical,timeStamping\\n' >ext.cnf"
              "; openssl x509 -req -in tsa.csr -CA ../" +
              fs::path(keys).filename().string() + "/ca.pem -CAkey ../" + fs::path(keys).filename().string() +
              "/ca.key -CAcreateserial -days 2 -extfile ext.cnf -out tsa.pem) >/dev/null 2>&1 && echo made");
    ASSERT_TRUE(Contains(made, "made\n")) << made;
    const std::string pid =
        Shell("cd " + Quote(tsa) + " && { python3 server.py >server.log 2>&1 & echo $!; }");
    for (int i = 0; i < 100 && ReadFile(tsa + "/port.txt").empty(); ++i) {
        Shell("sleep 0.1");
    }
    const std::string url = "http://127.0.0.1:" + ReadFile(tsa + "/port.txt") + "/";
    const std::string dir = Scratch("signed-tsa-package");
    WriteFile(dir + "/setup.exe", MakeExecutable() + "wxp.tag\r\n");
    WriteFile(dir + "/unzip.exe", MakeExecutable(false, Console));
    PackResult signedPackage = RunPack({"sign", dir, "--sign-cert", keys + "/cert.pem", "--sign-key",
                                        keys + "/key.pem", "--timestamp", url});
    Shell("kill " + pid);
    EXPECT_EQ(signedPackage.exitCode, 0) << signedPackage.output << ReadFile(tsa + "/server.log");
    const std::string verified =
        Shell("osslsigncode verify -CAfile " + Quote(keys + "/ca.pem") + " -TSA-CAfile " +
              Quote(keys + "/ca.pem") + " -in " + Quote(dir + "/setup.exe"));
    EXPECT_TRUE(Contains(verified, "Timestamp Server Signature verification: ok")) << verified;
    EXPECT_TRUE(Contains(verified, "Signature verification: ok")) << verified;
    PackResult checked = RunPack({"check", dir, "--ca", keys + "/ca.pem"});
    EXPECT_TRUE(Contains(checked.output, "(chain checked against " + keys + "/ca.pem; time-stamped)"))
        << checked.output;

    // With the server gone, signing fails and changes nothing.
    const std::string before = ReadFile(dir + "/setup.exe");
    PackResult gone = RunPack({"sign", dir, "--sign-cert", keys + "/cert.pem", "--sign-key",
                               keys + "/key.pem", "--timestamp", url});
    EXPECT_EQ(gone.exitCode, 1) << gone.output;
    EXPECT_EQ(ReadFile(dir + "/setup.exe"), before);
}

TEST_F(PackSigned, VerifiesEverySignatureWithoutACaAndRefusesWhatCannotSignSoundly) {
    const std::string dir = Scratch("signed-faults");
    WriteFile(dir + "/setup.exe", MakeExecutable());
    WriteFile(dir + "/unzip.exe", MakeExecutable(false, Console));
    // Links planted where the signer's temporary copies once were, and at
    // the first name of its scratch directory: never written through.
    const std::string victim = Scratch("signed-faults-victim") + "/victim.txt";
    WriteFile(victim, "keep me");
    for (const char* name : {"/setup.exe.unsigned-tmp", "/setup.exe.signed-tmp", "/setup.exe.sign-1"}) {
        fs::create_symlink(victim, dir + name);
    }
    // osslsigncode through a shim that records its arguments and environment.
    const std::string shim = Scratch("signed-faults-shim");
    WriteFile(shim + "/osslsigncode", "#!/bin/sh\n{ echo \"$@\"; env; } >>" + Quote(shim + "/seen.txt") +
                                          "\nPATH=" + Quote(getenv("PATH")) + " exec osslsigncode \"$@\"\n");
    chmod((shim + "/osslsigncode").c_str(), 0755);
    PackResult signedPackage = RunPack(
        {"sign", dir, "--sign-pkcs12", keys + "/bundle.p12", "--sign-password-env", "PACK_TEST_PASSWORD"},
        "PACK_TEST_PASSWORD='pass word' https_proxy=http://proxy.test:3128 PATH=" + Quote(shim) +
            ":\"$PATH\" ");
    ASSERT_EQ(signedPackage.exitCode, 0) << signedPackage.output;
    EXPECT_EQ(ReadFile(victim), "keep me");
    const std::string seen = ReadFile(shim + "/seen.txt");
    EXPECT_TRUE(Contains(seen, "sign -h sha256")) << seen;
    // The rest of the environment reaches it: a time-stamping server may
    // be behind a proxy.
    EXPECT_TRUE(Contains(seen, "\nhttps_proxy=http://proxy.test:3128\n")) << seen;
    EXPECT_FALSE(Contains(seen, "pass word")) << seen;
    EXPECT_FALSE(Contains(seen, "PACK_TEST_PASSWORD")) << seen;

    PackResult shown = RunPack({"show", dir});
    EXPECT_TRUE(
        Contains(shown.output,
                 "\nsignature: valid (chain not checked; give --ca), signed by /CN=Pack Test Publisher\n"))
        << shown.output;
    // A code byte changed and the new digest written into the signature, or
    // the signature value changed: broken, without --ca too.
    const std::string good = ReadFile(dir + "/setup.exe");
    std::string changed = MakeExecutable();
    changed[0x210] ^= 1;
    const std::string other = Scratch("signed-faults-other");
    WriteFile(other + "/setup.exe", changed);
    WriteFile(other + "/unzip.exe", MakeExecutable(false, Console));
    ASSERT_EQ(
        RunPack({"sign", other, "--sign-cert", keys + "/cert.pem", "--sign-key", keys + "/key.pem"}).exitCode,
        0);
    const std::string resigned = ReadFile(other + "/setup.exe");
    const size_t digest = good.find(std::string("\x05\x00\x04\x20", 4), TableOffset) + 4;
    const size_t otherDigest = resigned.find(std::string("\x05\x00\x04\x20", 4), TableOffset) + 4;
    std::string forged = good;
    forged[0x210] ^= 1;
    forged.replace(digest, 32, resigned.substr(otherDigest, 32));
    ASSERT_NE(forged.substr(digest, 32), good.substr(digest, 32));
    std::string corrupted = good;
    corrupted[ReadCertTable(good).BlobEnd - 5] ^= 0x5a;
    for (const std::string& bad : {forged, corrupted}) {
        WriteFile(dir + "/setup.exe", bad);
        PackResult checked = RunPack({"check", dir});
        EXPECT_EQ(checked.exitCode, 1) << checked.output;
        EXPECT_TRUE(
            Contains(checked.output,
                     "  error    setup.exe signature: BROKEN: the signature does not verify against the "
                     "signer's certificate"))
            << checked.output;
    }
    // A signed setup.exe beside an unsigned unzip.exe: an error.
    WriteFile(dir + "/setup.exe", good);
    WriteFile(dir + "/unzip.exe", MakeExecutable(false, Console));
    PackResult mixed = RunPack({"check", dir, "--ca", keys + "/ca.pem"});
    EXPECT_TRUE(Contains(mixed.output,
                         "  error    setup.exe is signed but unzip.exe is not: sign both (pack sign)\n"))
        << mixed.output;

    // A certificate that has expired, and a key that is not the certificate's:
    // refused before signing, in one line.
    const std::string made = Shell(
        "(set -e; cd " + Quote(keys) +
        "; printf '[ca]\\ndefault_ca=d\\n[d]\\ndatabase=index.txt\\nnew_certs_dir=.\\nserial=serial\\n"
        "default_md=sha256\\npolicy=p\\n[p]\\ncommonName=supplied\\n' >ca.cnf; : >index.txt; echo 10 >serial"
        "; openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -startdate 20200101000000Z"
        " -enddate 20200201000000Z -extfile ext.cnf -notext -in cert.csr -out expired.pem"
        "; cat ca.pem cert.pem >ca-first.pem; cat ca.pem expired.pem >ca-first-expired.pem) >/dev/null 2>&1"
        " && echo made");
    ASSERT_TRUE(Contains(made, "made\n")) << made;
    const std::string unsignedSetup = MakeExecutable();
    const std::pair<std::vector<std::string>, std::string> refusals[] = {
        {{"--sign-cert", keys + "/expired.pem", "--sign-key", keys + "/key.pem"},
         "pack: refused, nothing signed: the certificate has expired (" + keys + "/expired.pem)\n"},
        {{"--sign-cert", keys + "/cert.pem", "--sign-key", keys + "/other.key"},
         "pack: refused, nothing signed: the key " + keys + "/other.key does not match the certificate " +
             keys + "/cert.pem\n"},
        // In a chain file the signer's certificate is the one whose key is
        // given, wherever it lies: its dates are the ones checked.
        {{"--sign-cert", keys + "/ca-first-expired.pem", "--sign-key", keys + "/key.pem"},
         "pack: refused, nothing signed: the certificate has expired (" + keys + "/ca-first-expired.pem)\n"},
    };
    for (const auto& refusal : refusals) {
        WriteFile(dir + "/setup.exe", unsignedSetup);
        std::vector<std::string> args = {"sign", dir};
        args.insert(args.end(), refusal.first.begin(), refusal.first.end());
        PackResult refused = RunPack(args);
        EXPECT_EQ(refused.exitCode, 1) << refused.output;
        EXPECT_EQ(refused.output, refusal.second);
        EXPECT_EQ(ReadFile(dir + "/setup.exe"), unsignedSetup);
    }
    WriteFile(dir + "/setup.exe", unsignedSetup);
    PackResult chained =
        RunPack({"sign", dir, "--sign-cert", keys + "/ca-first.pem", "--sign-key", keys + "/key.pem"});
    EXPECT_EQ(chained.exitCode, 0) << chained.output;
    EXPECT_TRUE(Contains(Verify(dir + "/setup.exe"), "Signature verification: ok"));
}

TEST_F(PackSigned, GivesUpOnATimestampServerThatNeverAnswersAndLeavesNothingBehind) {
    // A server on 127.0.0.1 that accepts the connection and says nothing.
    const std::string silent = Scratch("signed-silent-tsa");
    WriteFile(silent + "/server.py",
              "import socket, time\n"
              "s = socket.socket()\n"
              "s.bind(('127.0.0.1', 0))\n"
              "s.listen(5)\n"
              "open('port.txt', 'w').write(str(s.getsockname()[1]))\n"
              "held = []\n"
              "while True:\n"
              "    held.append(s.accept()[0])\n");
    const std::string pid =
        Shell("cd " + Quote(silent) + " && { python3 server.py >server.log 2>&1 & echo $!; }");
    for (int i = 0; i < 100 && ReadFile(silent + "/port.txt").empty(); ++i) {
        Shell("sleep 0.1");
    }
    const std::string url = "http://127.0.0.1:" + ReadFile(silent + "/port.txt") + "/";
    const std::string installer = MakeInstallerFolder("signed-silent-installer");
    const std::string kit = MakeSignableKit("signed-silent-kit");
    const std::string out = Scratch("signed-silent-out") + "/pkg";
    const auto started = std::chrono::steady_clock::now();
    PackResult built =
        RunPack({"build", "--kit", kit, installer, out, "wxp.tag", "--sign-cert", keys + "/cert.pem",
                 "--sign-key", keys + "/key.pem", "--timestamp", url, "--timestamp-timeout", "1"});
    const auto took = std::chrono::steady_clock::now() - started;
    Shell("kill " + pid);
    EXPECT_EQ(built.exitCode, 1) << built.output;
    EXPECT_TRUE(Contains(built.output, "pack: the time-stamping server " + url +
                                           " gave no answer within 1 second (--timestamp-timeout)"))
        << built.output;
    EXPECT_LT(took, std::chrono::seconds(30));
    EXPECT_EQ(Names(fs::path(out).parent_path().string()), std::vector<std::string>{});
}

namespace {

// One central directory entry (46 bytes, its name, extra fields and
// comment), made by Zip 3.0 on Unix with a mode, or on Windows with DOS
// attributes (mode 0).
std::string CentralEntry(const std::string& name, unsigned mode, unsigned offset,
                         const std::string& extra = "", const std::string& comment = "",
                         unsigned dosAttributes = 0x20) {
    std::string entry(46, '\0');
    Put(entry, 0, 0x02014b50, 4);
    Put(entry, 4, mode != 0 ? 0x031e : 0x001e, 2);
    Put(entry, 12, 0x1234, 2);
    Put(entry, 14, 0x5678, 2);
    Put(entry, 20, 0x1000 + offset, 4);  // compressed size
    Put(entry, 24, 0x2000 + offset, 4);  // uncompressed size
    Put(entry, 28, static_cast<unsigned>(name.size()), 2);
    Put(entry, 30, static_cast<unsigned>(extra.size()), 2);
    Put(entry, 32, static_cast<unsigned>(comment.size()), 2);
    Put(entry, 38, (mode << 16) | dosAttributes, 4);
    Put(entry, 42, offset, 4);
    return entry + name + extra + comment;
}

// An extra field: its id, its length and its data.
std::string ExtraField(unsigned id, const std::string& data) {
    std::string field(4, '\0');
    Put(field, 0, id, 2);
    Put(field, 2, static_cast<unsigned>(data.size()), 2);
    return field + data;
}

}  // namespace

TEST(PackBuild, RewritesEachCentralEntryUpToTheDirectorysLastByte) {
    // The last entry has no name: exactly 46 bytes left for it. Read-only
    // is the owner's write bit missing, or the DOS read-only bit.
    std::string directory = CentralEntry("\xc3\x9c.txt", 0100755, 0) + CentralEntry("", 0100555, 40) +
                            CentralEntry("w", 0, 80, "", "", 0x21) + CentralEntry("x", 0, 90);
    std::vector<LocalHeader> locals;
    std::string error;
    auto* bytes = reinterpret_cast<unsigned char*>(&directory[0]);
    ASSERT_TRUE(NormalizeCentralDirectory(bytes, directory.size(), 4, locals, error)) << error;
    ASSERT_EQ(locals.size(), 4u);
    EXPECT_EQ(locals[0].Offset, 0u);
    EXPECT_TRUE(locals[0].Utf8);
    EXPECT_EQ(locals[1].Offset, 40u);
    EXPECT_FALSE(locals[1].Utf8);
    EXPECT_EQ(GetField(bytes + 8, 2), 0x800u);
    EXPECT_EQ(GetField(bytes + 12, 4), 0x00210000u);  // 1980-01-01 00:00
    EXPECT_EQ(GetField(bytes + 38, 4), 0100644u << 16);
    EXPECT_EQ(GetField(bytes + 52 + 38, 4), (0100444u << 16) | 1);
    EXPECT_EQ(GetField(bytes + 98 + 38, 4), (0100444u << 16) | 1);
    EXPECT_EQ(GetField(bytes + 145 + 38, 4), 0100644u << 16);
    for (const size_t at : {0, 52, 98, 145}) {
        EXPECT_EQ(GetField(bytes + at + 4, 2), 0x031eu) << at;  // as if made on Unix
    }

    // One byte short, a name running past the end, a wrong signature.
    const struct {
        size_t cut;
        size_t field;
        unsigned value;
        const char* message;
    } damaged[] = {
        {1, 0, 0, "a damaged central directory entry"},
        {0, 52 + 28, 1, "a central directory entry runs past the directory"},
        {0, 52, 0x02014b51, "a damaged central directory entry"},
        {0, 52 + 42, 0xffffffff, "the archive needs Zip64 records"},
    };
    for (const auto& d : damaged) {
        std::string copy = CentralEntry("\xc3\x9c.txt", 0100644, 0) + CentralEntry("", 0100644, 40);
        if (d.cut == 0) {
            Put(copy, d.field, d.value, d.field == 52 + 28 ? 2 : 4);
        }
        copy.resize(copy.size() - d.cut);
        auto* at = reinterpret_cast<unsigned char*>(&copy[0]);
        EXPECT_FALSE(NormalizeCentralDirectory(at, copy.size(), 2, locals, error)) << d.message;
        EXPECT_TRUE(Contains(error, d.message)) << error;
        std::vector<ZipEntry> split(1);
        error.clear();
        EXPECT_FALSE(SplitCentralDirectory(at, copy.size(), 2, split, error)) << d.message;
        EXPECT_TRUE(Contains(error, d.message)) << error;
    }
}

TEST(PackBuild, TakesEachNameFromItsUnicodePathFieldWhenSplittingTheDirectory) {
    // A field of another kind whose data could pass for one, then the
    // Unicode path field (version 1, the stored name's CRC, the name), last
    // in the block. A field whose CRC is not the stored name's is stale: the
    // extractor uses the stored name, and so does every check.
    const std::string other = ExtraField(0xcafe, std::string("\x01\0\0\0\0\0", 6));
    const std::string directory =
        CentralEntry("caf?.txt", 0, 0,
                     other + ExtraField(0x7075, std::string("\x01\x2a\xa2\xc0\x48"
                                                            "caf\xc3\xa9.txt",
                                                            14)),
                     "note") +
        CentralEntry("?", 0, 70,
                     ExtraField(0x7075, std::string("\x01\xb0\xc2\x64\x64"
                                                    "a",
                                                    6))) +
        CentralEntry("plain.txt", 0, 90) +
        CentralEntry("readme.txt", 0, 120,
                     ExtraField(0x7075, std::string("\x01\x09\x8b\x59\x22SETUP.EXE", 14)));
    const auto* bytes = reinterpret_cast<const unsigned char*>(directory.data());
    std::vector<ZipEntry> split(1);
    std::string error;
    ASSERT_TRUE(SplitCentralDirectory(bytes, directory.size(), 4, split, error)) << error;
    ASSERT_EQ(split.size(), 4u);
    EXPECT_EQ(split[0].Name, "caf\xc3\xa9.txt");
    EXPECT_EQ(split[0].Comment, "note");
    EXPECT_EQ(split[0].Header, directory.substr(0, 46));
    EXPECT_EQ(split[1].Name, "a");
    EXPECT_EQ(split[1].LocalOffset, 70u);
    EXPECT_EQ(split[1].CompressedSize, 0x1000u + 70);
    EXPECT_EQ(split[2].Name, "plain.txt");
    EXPECT_EQ(split[2].Comment, "");
    EXPECT_EQ(split[3].Name, "readme.txt");
}

TEST(PackCheck, NamesTheEntriesTheExtractorsTestFinds) {
    const std::vector<std::string> entries = {"SETUP.EXE", "data/read", "data/readme.txt",
                                              "a b.txt",   "big.bin",   "data/readme.txt.bak.old"};
    // As UnZip prints it, with Windows' line ends in part; an entry whose
    // data cannot be inflated gets no result on its line.
    const std::string report =
        "Archive:  package.zip\r\n"
        "    testing: SETUP.EXE                OK\r\n"
        "    testing: data/read                OK\n"
        "    testing: data/readme.txt          bad CRC 3610a686  (should be 12345678)\n"
        "    testing: a b.txt                  OK\n"
        "    testing: big.bin\n"
        "  error:  invalid compressed data to inflate\n"
        "    testing: unknown.txt              bad CRC 00000000  (should be 00000001)\n"
        "At least one error was detected in package.zip.\n";
    EXPECT_EQ(EntriesFailingTest(report, entries),
              (std::vector<std::string>{"data/readme.txt", "big.bin",
                                        "unknown.txt              bad CRC 00000000  (should be 00000001)"}));
    EXPECT_EQ(EntriesFailingTest("    testing: SETUP.EXE   OK\n", entries), std::vector<std::string>{});
}

TEST(PackBuild, WritesAZipExeArchiveAnewWithUtf8NamesAndNoExtraFields) {
    // A zip that writes as zip.exe does: DOS attributes, names outside ASCII
    // stored in another spelling with the UTF-8 name in an extra field
    // (0x7075) after a field of another kind, in the local headers too.
    const std::string base = Scratch("zipexe");
    fs::create_directories(base + "/bin");
    WriteFile(base + "/bin/zip",
              "#!/usr/bin/env python3\n"
              "import os, struct, sys, zipfile, zlib\n"
              "z = zipfile.ZipFile(sys.argv[-2], 'w')\n"
              "for name in sys.stdin.read().splitlines():\n"
              "    data = open(name, 'rb').read()\n"
              "    stored = name.encode('ascii', 'replace').decode()\n"
              "    info = zipfile.ZipInfo(stored)\n"
              "    info.create_system = 0\n"
              "    info.external_attr = 0x21 if name.endswith('locked.txt') else 0x20\n"
              "    info.extra = struct.pack('<HHH', 0xcafe, 2, 1)\n"
              "    if stored != name:\n"
              "        utf8 = name.encode()\n"
              "        info.extra += struct.pack('<HHBI', 0x7075, 5 + len(utf8), 1,\n"
              "                                  zlib.crc32(stored.encode())) + utf8\n"
              "    # one byte stored: the shortest data to copy\n"
              "    z.writestr(info, data, zipfile.ZIP_STORED if len(data) == 1 else zipfile.ZIP_DEFLATED)\n"
              "z.close()\n"
              "z = open(sys.argv[-2], 'r+b')\n"
              "data = bytearray(z.read())\n"
              "if 'DESCRIPTOR' in sys.argv[0]: data[6] |= 8\n"
              "if 'PAST' in sys.argv[0]: data[data.rfind(b'PK\\x01\\x02') + 20] = 0x7f\n"
              "if 'GARBAGE' in sys.argv[0]: data = b'not a zip'\n"
              "if 'BLOCKED' in sys.argv[0]: os.mkdir(sys.argv[-2] + '.utf8')\n"
              "z.truncate(len(data))\n"
              "z.seek(0)\n"
              "z.write(data)\n");
    fs::permissions(base + "/bin/zip", fs::perms::owner_all);
    const std::string installer = base + "/inst";
    fs::create_directories(installer + "/docs");
    WriteFile(installer + "/SETUP.EXE", "installer");
    WriteFile(installer + "/docs/caf\xc3\xa9.txt", std::string(3000, 'c'));
    WriteFile(installer + "/docs/locked.txt", "locked");
    WriteFile(installer +
                  "/\xc3\x9c"
                  "ber.ini",
              "u");
    const std::string kit = MakeKit("zipexe-kit");

    PackResult result = RunPack({"build", "--kit", kit, installer, base + "/pkg", "wxp.tag"},
                                "PATH=" + Quote(base + "/bin") + ":$PATH ");
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(Contains(result.output, "0 errors")) << result.output;
    // Each entry as zip on Linux writes it, its data intact (Python compares
    // each local header's name with the directory's).
    EXPECT_EQ(
        Shell(
            "python3 -c 'import sys, zipfile\n"
            "z = zipfile.ZipFile(sys.argv[1])\n"
            "for i in z.infolist(): print(i.create_system, i.flag_bits & 0x800, oct(i.external_attr >> 16),\n"
            "    i.external_attr & 0xffff, len(i.extra), len(z.read(i)), i.filename)' " +
            Quote(base + "/pkg/package.zip")),
        "3 0 0o100644 0 0 9 SETUP.EXE\n"
        "3 2048 0o100644 0 0 3000 docs/caf\xc3\xa9.txt\n"
        "3 0 0o100444 1 0 6 docs/locked.txt\n"
        "3 2048 0o100644 0 0 1 \xc3\x9c"
        "ber.ini\n");
    EXPECT_EQ(Shell("unzip -tq " + Quote(base + "/pkg/package.zip")),
              "No errors detected in compressed data of " + base + "/pkg/package.zip.\n");

    // What such a zip may write that cannot be rewritten: a data descriptor
    // after an entry, an entry running into the central directory, no
    // archive at all; and a name the rewrite cannot take for its copy.
    for (const auto& spoiled : {std::make_pair("DESCRIPTOR", "a damaged local header"),
                                std::make_pair("PAST", "an entry runs past its place"),
                                std::make_pair("GARBAGE", "too short for a zip archive"),
                                std::make_pair("BLOCKED", "cannot create ")}) {
        fs::create_directories(base + "/" + spoiled.first);
        fs::copy_file(base + "/bin/zip", base + "/" + spoiled.first + "/zip");
        result = RunPack({"build", "--kit", kit, installer, base + "/bad", "wxp.tag"},
                         "PATH=" + Quote(base + "/" + spoiled.first) + ":$PATH ");
        EXPECT_EQ(result.exitCode, 1) << result.output;
        EXPECT_TRUE(Contains(result.output, std::string("cannot finish package.zip: ") + spoiled.second))
            << result.output;
        EXPECT_FALSE(fs::exists(base + "/bad"));
    }
}

namespace {

// winget's two lists read back line by line, as " success:N" and " N:response"
// entries, or the first line that is not of their shape.
std::string ReadWingetCodes(const std::string& yaml) {
    const auto integer = [](const std::string& text) {
        const size_t digits = text.compare(0, 1, "-") == 0 ? 1 : 0;
        return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
    };
    const std::string item = "  - InstallerReturnCode: ";
    const std::string response = "    ReturnResponse: ";
    std::string lists;  // the lists begun so far, each once
    std::string list;
    std::string code;  // an expected code still waiting for its response
    std::string entries;
    size_t start = 0;
    for (size_t end = yaml.find('\n'); end != std::string::npos;
         start = end + 1, end = yaml.find('\n', start)) {
        const std::string line = yaml.substr(start, end - start);
        if ((line == "InstallerSuccessCodes:" || line == "ExpectedReturnCodes:") && code.empty() &&
            !Contains(lists, line)) {
            list = line;
            lists += line;
        } else if (list == "InstallerSuccessCodes:" && line.rfind("  - ", 0) == 0 &&
                   integer(line.substr(4))) {
            entries += " success:" + line.substr(4);
        } else if (list == "ExpectedReturnCodes:" && code.empty() && line.rfind(item, 0) == 0 &&
                   integer(line.substr(item.size()))) {
            code = line.substr(item.size());
        } else if (!code.empty() && line.rfind(response, 0) == 0 && line.size() > response.size() &&
                   line.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ",
                                          response.size()) == std::string::npos) {
            entries += " " + code + ":" + line.substr(response.size());
            code.clear();
        } else {
            return "not winget's shape: '" + line + "'";
        }
    }
    return start == yaml.size() && code.empty() ? entries : "cut short: " + yaml.substr(start);
}

}  // namespace

// Each agent's format read back as the agent would (Intune's JSON and
// ConfigMgr's CSV through Python), for a package with exitcode.tag and the
// installer's documented codes, and for one without the tag.
TEST(PackShow, ReturnCodesInEachAgentsFormat) {
    const std::string agent = MakeGoodPackage("return-codes-agent");
    const std::string plain = MakeGoodPackage("return-codes-plain");
    WriteFile(plain + "/setup.exe", MakeExecutable() + "wxp.tag\r\n");
    const std::string read = Scratch("return-codes-read");
    WriteFile(read + "/intune.py",
              "import json, sys\n"
              "rows = json.load(sys.stdin)\n"
              "assert isinstance(rows, list)\n"
              "assert all(set(r) == {'returnCode', 'type'} and type(r['returnCode']) is int for r in rows)\n"
              "print(' '.join('%d:%s' % (r['returnCode'], r['type']) for r in rows))\n");
    WriteFile(read + "/configmgr.py",
              "import csv, sys\n"
              "rows = list(csv.reader(sys.stdin))\n"
              "assert rows[0] == ['Return Code', 'Code Type', 'Name', 'Description']\n"
              "assert all(len(r) == 4 and r[2] and r[3] for r in rows)\n"
              "print(' '.join(r[0] + ':' + r[1] for r in rows[1:]))\n");
    const std::vector<std::string> documented = {"--success", "5,0xFFFFFFFF,0", "--reboot", "3011,1641"};
    const struct {
        const std::string& dir;
        const char* format;
        const char* codes;  // read back
        const char* note;   // on standard error
    } cases[] = {
        {agent, "intune",
         "0:success 3010:softReboot 1641:hardReboot 1633:failed 82:failed 1460:failed 1603:failed 206:failed "
         "87:failed 5:success -1:success 3011:softReboot\n",
         "pack: note: any other code is the exit code of SETUP.EXE (or of PostProcess.cmd after a successful "
         "SETUP.EXE) as it is, or the start error of one that could not be started (2: the file is "
         "missing); what it means is the installer's to say: Intune counts it as a failure; add the "
         "installer's documented codes with --success CODE,... and --reboot CODE,...\n"},
        {agent, "configmgr",
         "0:Success 3010:Soft Reboot 1641:Hard Reboot 1633:Failure 82:Failure 1460:Failure 1603:Failure "
         "206:Failure 87:Failure 5:Success -1:Success 3011:Soft Reboot\n",
         "ConfigMgr counts it as a failure"},
        {agent, "winget",
         " success:5 success:-1 3010:rebootRequiredToFinish 1641:rebootInitiated 1633:systemNotSupported "
         "82:custom 1460:custom 1603:custom 206:custom 87:invalidParameter 3011:rebootRequiredToFinish",
         "winget counts it as a failure"},
        {plain, "intune", "1:success 0:failed\n",
         "pack: note: without exitcode.tag, 0 (a refusal or the usage box: nothing installed) is a failure "
         "that an agent cannot tell from success, and setup.exe ends with 1 whatever SETUP.EXE did; add "
         "exitcode.tag (and log.tag) for deployments through an agent\n"
         "pack: note: Intune's default return codes count 0 as success: replace them with these\n"},
        {plain, "configmgr", "1:Success 0:Failure\n", "ConfigMgr's default return codes count 0 as success"},
        {plain, "winget", " success:1", "pack: note: winget counts 0 as success and takes no other kind"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"show", c.dir, "--return-codes", c.format};
        if (&c.dir == &agent) {
            args.insert(args.end(), documented.begin(), documented.end());
        }
        PackResult result = RunPack(args, "", read + "/errors.txt");
        EXPECT_EQ(result.exitCode, 0) << c.format << ": " << result.output;
        WriteFile(read + "/out.txt", result.output);
        const std::string codes =
            std::string(c.format) == "winget"
                ? ReadWingetCodes(result.output)
                : Shell("python3 " + Quote(read + "/" + c.format + ".py") + " < " + Quote(read + "/out.txt"));
        EXPECT_EQ(codes, c.codes) << c.format << ":\n" << result.output;
        EXPECT_TRUE(Contains(ReadFile(read + "/errors.txt"), c.note))
            << c.format << ": " << ReadFile(read + "/errors.txt");
    }

    // The table with meanings, its notes in it.
    PackResult text = RunPack({"show", agent, "--return-codes", "text"}, "", read + "/errors.txt");
    EXPECT_EQ(ReadFile(read + "/errors.txt"), "");
    for (const char* line : {"exit codes of setup.exe with exitcode.tag:\n  0      success      installed: ",
                             "\n  1603   failure      extraction failed: unzip.exe ended with 2 or more",
                             "\n  other  unknown      passed through: the exit code of SETUP.EXE"}) {
        EXPECT_TRUE(Contains(text.output, line)) << line << "\n" << text.output;
    }
    text = RunPack({"show", plain, "--return-codes", "text"});
    EXPECT_TRUE(Contains(text.output, "\n  0      failure      refused or usage box: ")) << text.output;
    EXPECT_TRUE(Contains(text.output, "\n0 is a failure that an agent cannot tell from success"))
        << text.output;

    // Documented codes that contradict the launcher's own, or each other, and
    // codes that never reach the agent, are refused; so is what is no code.
    const struct {
        const std::string& dir;
        std::vector<std::string> options;
        int exitCode;
        const char* message;
    } refused[] = {
        {agent,
         {"--success", "1603"},
         1,
         "pack: refused: --success 1603 contradicts setup.exe's own code: 1603 extraction failed, a "
         "failure\n"},
        {agent,
         {"--reboot", "0"},
         1,
         "pack: refused: --reboot 0 contradicts setup.exe's own code: 0 installed, a success\n"},
        {agent, {"--success", "7", "--reboot", "8,7"}, 1, "pack: refused: 7 is given to both"},
        {plain, {"--reboot", "3011"}, 1, "pack: refused: --success and --reboot need exitcode.tag"},
        {agent, {"--success", "5,x"}, 2, "pack: --success: 'x' is not an exit code"},
        {agent, {"--reboot", "4294967296"}, 2, "pack: --reboot: '4294967296' is not an exit code"},
        {agent, {"--reboot", "3011,"}, 2, "pack: --reboot: '' is not an exit code"},
    };
    for (const auto& c : refused) {
        std::vector<std::string> args = {"show", c.dir, "--return-codes", "intune"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        PackResult result = RunPack(args);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.message << ": " << result.output;
        EXPECT_EQ(result.output.rfind(c.message, 0), 0u) << result.output;
    }
    EXPECT_EQ(RunPack({"show", agent, "--return-codes", "sccm"}).exitCode, 2);
    EXPECT_EQ(RunPack({"show", agent, "--success", "5"}).exitCode, 2);
}

TEST(PackBuild, ReadsSizesAndOffsetsPast4GiBFromTheZip64Field) {
    // Zip64 values: 8 bytes each for the original size, the compressed size
    // and the offset, present only where the fixed field is full.
    const auto zip64 = [](std::initializer_list<uint64_t> values) {
        std::string data;
        for (const uint64_t value : values) {
            std::string field(8, '\0');
            SetField64(reinterpret_cast<unsigned char*>(&field[0]), value);
            data += field;
        }
        return ExtraField(0x0001, data);
    };
    std::string all =
        CentralEntry("big.bin", 0100644, 0xffffffff, zip64({0x123456789, 0x100000002, 0x200000003}));
    Put(all, 20, 0xffffffff, 4);
    Put(all, 24, 0xffffffff, 4);
    // Only the offset is full, its field after a field of another kind.
    const std::string offsetOnly =
        CentralEntry("late.txt", 0100644, 0xffffffff, ExtraField(0xcafe, "xy") + zip64({0x300000004}));
    const std::string plain = CentralEntry("SETUP.EXE", 0100644, 10, zip64({}));
    const std::string directory = all + offsetOnly + plain;
    std::vector<ZipEntry> split;
    std::string error;
    const auto* bytes = reinterpret_cast<const unsigned char*>(directory.data());
    ASSERT_TRUE(SplitCentralDirectory(bytes, directory.size(), 3, split, error)) << error;
    ASSERT_EQ(split.size(), 3u);
    EXPECT_EQ(split[0].CompressedSize, 0x100000002u);
    EXPECT_EQ(split[0].LocalOffset, 0x200000003u);
    EXPECT_EQ(split[1].CompressedSize, 0xfffu);  // 0x1000 + the offset, in 4 bytes
    EXPECT_EQ(split[1].LocalOffset, 0x300000004u);
    EXPECT_EQ(split[2].LocalOffset, 10u);
    // Only zip.exe's own fields call for the archive to be written anew.
    EXPECT_FALSE(split[0].OtherFields);
    EXPECT_TRUE(split[1].OtherFields);
    EXPECT_FALSE(split[2].OtherFields);
    std::string copy = directory;
    std::vector<LocalHeader> locals;
    ASSERT_TRUE(
        NormalizeCentralDirectory(reinterpret_cast<unsigned char*>(&copy[0]), copy.size(), 3, locals, error))
        << error;
    ASSERT_EQ(locals.size(), 3u);
    EXPECT_EQ(locals[0].Offset, 0x200000003u);
    EXPECT_EQ(locals[1].Offset, 0x300000004u);

    // Where the scan of a folder expects Zip64 records: over 65,535 files, or
    // files and their headers (under 1 KiB each) that may pass 4 GiB.
    EXPECT_FALSE(MayNeedZip64(0xffff, 0xffffffffu - 0xffffu * 1024));
    EXPECT_TRUE(MayNeedZip64(0x10000, 0));
    EXPECT_TRUE(MayNeedZip64(0xffff, 0xffffffffu - 0xffffu * 1024 + 1));
    EXPECT_TRUE(MayNeedZip64(1, 0x100000000u));

    // A full field whose value the Zip64 field does not carry.
    std::string shortField = CentralEntry("big.bin", 0100644, 0xffffffff, zip64({0x100000002, 0x200000003}));
    Put(shortField, 20, 0xffffffff, 4);
    Put(shortField, 24, 0xffffffff, 4);
    for (const std::string& damaged :
         {shortField, CentralEntry("x", 0100644, 0xffffffff, ExtraField(0xcafe, ""))}) {
        std::string bad = damaged;
        auto* at = reinterpret_cast<unsigned char*>(&bad[0]);
        EXPECT_FALSE(SplitCentralDirectory(at, bad.size(), 1, split, error));
        EXPECT_TRUE(Contains(error, "lacks the Zip64 field")) << error;
        EXPECT_FALSE(NormalizeCentralDirectory(at, bad.size(), 1, locals, error));
        EXPECT_TRUE(Contains(error, "lacks the Zip64 field")) << error;
    }
}

TEST(PackBuild, ReadsExactly65535EntriesWithoutZip64Records) {
    // Zip writes 65,535 entries with the end record's count full and no
    // Zip64 records: the count is then the value itself.
    std::string locals;
    std::string central;
    for (unsigned i = 0; i < 0xffff; ++i) {
        char name[8];
        (void)snprintf(name, sizeof name, "f%05u", i);
        std::string local(30, '\0');
        Put(local, 0, 0x04034b50, 4);
        Put(local, 4, 10, 2);
        Put(local, 26, 6, 2);
        std::string entry = CentralEntry(name, 0, static_cast<unsigned>(locals.size()));
        Put(entry, 20, 0, 4);
        Put(entry, 24, 0, 4);
        locals += local + name;
        central += entry;
    }
    std::string end(22, '\0');
    Put(end, 0, 0x06054b50, 4);
    Put(end, 8, 0xffff, 2);
    Put(end, 10, 0xffff, 2);
    Put(end, 12, static_cast<unsigned>(central.size()), 4);
    Put(end, 16, static_cast<unsigned>(locals.size()), 4);
    const std::string archive = Scratch("zip-65535") + "/package.zip";
    WriteFile(archive, locals + central + end);

    std::vector<std::string> names;
    std::string error;
    ASSERT_TRUE(ReadArchiveNames(archive, names, error)) << error;
    ASSERT_EQ(names.size(), 0xffffu);
    EXPECT_EQ(names.back(), "f65534");
    EXPECT_TRUE(NormalizeArchive(archive, error)) << error;
    EXPECT_EQ(Shell("unzip -Z1 " + Quote(archive) + " | wc -l"), "65535\n");
}

TEST(PackBuild, LeavesAnArchiveWhoseRewriteWouldNeedZip64RecordsAsItIs) {
    // An entry with another extra field (as zip.exe writes) and Zip64 sizes
    // in its local header: the rewrite writes 4-byte fields only, so it
    // refuses and changes nothing.
    const std::string archive = Scratch("zip64-rewrite") + "/package.zip";
    Shell(
        "python3 -c 'import zipfile, sys\n"
        "z = zipfile.ZipFile(sys.argv[1], \"w\")\n"
        "i = zipfile.ZipInfo(\"SETUP.EXE\")\n"
        "i.extra = bytes([0x55, 0x54, 5, 0, 1, 0, 0, 0, 0])\n"
        "with z.open(i, \"w\", force_zip64=True) as f: f.write(b\"installer\")\n"
        "z.close()' " +
        Quote(archive));
    const std::string before = ReadFile(archive);
    ASSERT_GT(before.size(), 0u);
    std::string error;
    EXPECT_FALSE(NormalizeArchive(archive, error));
    EXPECT_TRUE(Contains(error, "the archive needs Zip64 records")) << error;
    EXPECT_EQ(ReadFile(archive), before);
}

TEST(PackBuild, PacksMoreEntriesThanTheEndRecordCountsThroughZip64Records) {
    const std::string base = Scratch("zip64-many");
    const std::string installer = base + "/inst";
    fs::create_directories(installer + "/files");
    WriteFile(installer + "/SETUP.EXE", "installer");
    Shell("cd " + Quote(installer + "/files") + " && seq -w 1 70000 | xargs touch");
    const std::string out = base + "/pkg";

    const PackResult result = RunPack({"build", "--kit", MakeKit("zip64-kit"), installer, out, "wxp.tag"});
    ASSERT_EQ(result.exitCode, 0) << result.output.substr(0, 2000);
    EXPECT_TRUE(Contains(result.output, "package.zip (70001 entries, SETUP.EXE at the root)"))
        << result.output;
    EXPECT_TRUE(Contains(result.output, "package.zip (70001 files, SETUP.EXE at the root)")) << result.output;
    // The end record's count is full; the Zip64 end record has the count,
    // and every entry the fixed time.
    const std::string archive = ReadFile(out + "/package.zip");
    const size_t end = archive.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(GetField(archive, end + 10, 2), 0xffffu);
    EXPECT_EQ(Shell("unzip -Z -T " + Quote(out + "/package.zip") + " | grep -c ' 19800101.000000 '"),
              "70001\n");
    EXPECT_EQ(Shell("unzip -tq " + Quote(out + "/package.zip")),
              "No errors detected in compressed data of " + out + "/package.zip.\n");
    fs::remove_all(base);
}

// Scratch folders left beside OUT_DIR by runs that were killed: build finds a
// free name past 999 of them, and gives up beside a thousand, saying why.
TEST(PackBuild, GivesUpBesideAThousandLeftoverScratchFolders) {
    const std::string base = Scratch("leftovers");
    for (int n = 1; n <= 999; ++n) {
        fs::create_directory(base + "/pkg.tmp-" + std::to_string(n));
    }
    const std::vector<std::string> args = {
        "build",       "--kit",  MakeKit("leftovers-kit"), MakeInstallerFolder("leftovers-installer"),
        base + "/pkg", "wxp.tag"};
    PackResult built = RunPack(args);
    EXPECT_EQ(built.exitCode, 0) << built.output;
    EXPECT_TRUE(fs::exists(base + "/pkg/package.zip"));
    EXPECT_FALSE(fs::exists(base + "/pkg.tmp-1000"));
    fs::remove_all(base + "/pkg");
    fs::create_directory(base + "/pkg.tmp-1000");
    PackResult refused = RunPack(args);
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_TRUE(Contains(refused.output, "cannot create a directory beside " + base + "/pkg"))
        << refused.output;
    EXPECT_FALSE(fs::exists(base + "/pkg"));
    EXPECT_FALSE(fs::exists(base + "/pkg.tmp-1001"));
    fs::remove_all(base);
}

TEST(PackBuild, RefusesALargeFoldersBadNameBeforeCompressingAnything) {
    // 20,000 files and one name Windows cannot hold: the scan refuses it, and
    // the zip (one that leaves a mark) never runs.
    const std::string base = Scratch("early");
    fs::create_directories(base + "/bin");
    WriteFile(base + "/bin/zip", "#!/bin/sh\ntouch " + Quote(base + "/zip-ran") + "\n");
    fs::permissions(base + "/bin/zip", fs::perms::owner_all);
    const std::string installer = base + "/inst";
    fs::create_directories(installer + "/files");
    WriteFile(installer + "/SETUP.EXE", "installer");
    Shell("cd " + Quote(installer + "/files") + " && seq -w 1 20000 | xargs touch && touch 'zz?.txt'");

    const PackResult result =
        RunPack({"build", "--kit", MakeKit("early-kit"), installer, base + "/pkg", "wxp.tag"},
                "PATH=" + Quote(base + "/bin") + ":$PATH ");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(Contains(result.output, "refused, nothing written: " + installer + "/files/zz?.txt: "))
        << result.output;
    EXPECT_FALSE(fs::exists(base + "/zip-ran"));
    EXPECT_FALSE(fs::exists(base + "/pkg"));
    EXPECT_FALSE(fs::exists(base + "/pkg.tmp-1"));
    fs::remove_all(base);
}
