// Signing through osslsigncode, then the tags written inside the new
// certificate table; and reading back what a signature says.
#include "tools/pack/signing.h"

#include <stdio.h>
#include <stdlib.h>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <filesystem>

#include "tools/pack/cert_table.h"
#include "tools/pack/file_names.h"
#include "tools/pack/host_files.h"
#include "tools/pack/package_view.h"

static void Fail(const std::string& text) {
    (void)fprintf(stderr, "pack: %s\n", text.c_str());
}

std::string SigningProblem(const SigningRequest& request) {
    if (!request.Pkcs12.empty() && (!request.Cert.empty() || !request.Key.empty())) {
        return "--sign-pkcs12 replaces --sign-cert and --sign-key: give one or the other";
    }
    if (request.Pkcs12.empty() && request.Cert.empty() != request.Key.empty()) {
        return "--sign-cert and --sign-key go together";
    }
    if (!request.Wanted() &&
        (!request.PasswordFile.empty() || !request.PasswordVariable.empty() || !request.Timestamp.empty())) {
        return "--sign-password-file, --sign-password-env and --timestamp need --sign-cert and --sign-key, "
               "or "
               "--sign-pkcs12";
    }
    if (!request.PasswordFile.empty() && !request.PasswordVariable.empty()) {
        return "give the password in a file or in an environment variable, not both";
    }
#ifdef _WIN32
    if (request.Wanted()) {
        return "pack.exe does not sign: sign setup.exe and unzip.exe with signtool (/fd SHA256), then run "
               "pack "
               "stamp";
    }
#endif
    return "";
}

bool LoadPassword(SigningRequest& request, std::string& problem) {
    if (!request.PasswordVariable.empty()) {
        const char* value = getenv(request.PasswordVariable.c_str());
        if (value == nullptr) {
            problem = "--sign-password-env: the environment has no " + request.PasswordVariable;
            return false;
        }
        request.Password = value;
    } else if (!request.PasswordFile.empty()) {
        // Read once: the file may be a pipe, and two executables are signed.
        std::string error;
        if (!ReadWholeFile(request.PasswordFile, request.Password, error)) {
            problem = "cannot read --sign-password-file " + request.PasswordFile + ": " + error;
            return false;
        }
        request.Password = request.Password.substr(0, request.Password.find_first_of("\r\n"));
    }
    return true;
}

#ifdef _WIN32
static const char NotVerified[] =
    "not verified: pack.exe does not verify signatures (signtool verify /pa does)";

bool SignExecutable(const std::string& path, const SigningRequest&, const std::string&) {
    Fail("refused, nothing changed: pack.exe does not sign " + path +
         ": sign setup.exe and unzip.exe with signtool (/fd SHA256), then run pack stamp");
    return false;
}

static std::string Verify(const std::string&, const std::string&, int& status) {
    status = -1;
    return "";
}
#else
static const char NotVerified[] = "not verified: osslsigncode cannot be run here";

static std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The variable that hands the key's password to the shell that starts
// osslsigncode: the shell's own printf writes it to osslsigncode's standard
// input, so it appears in no command line.
static const char PasswordVariable[] = "PACK_SIGN_PASSWORD";

// Runs osslsigncode with args and returns what it printed; status is its exit
// status, or -1 when it could not be run. With a password, osslsigncode
// reads it from its standard input (-readpass /dev/stdin), else that is empty.
static std::string RunSigner(const std::vector<std::string>& args, const std::string* password, int& status) {
    std::string line =
        password != nullptr ? "printf '%s\\n' \"$" + std::string(PasswordVariable) + "\" | " : "";
    line += "exec osslsigncode";
    for (const std::string& arg : args) {
        line += " " + ShellQuote(arg);
    }
    line += password != nullptr ? " -readpass /dev/stdin 2>&1" : " </dev/null 2>&1";
    std::string output;
    (void)fflush(stdout);
    if (password != nullptr) {
        (void)setenv(PasswordVariable, password->c_str(), 1);
    }
    // NOLINTNEXTLINE(cert-env33-c): every word of the command is quoted.
    FILE* pipe = popen(line.c_str(), "r");
    (void)unsetenv(PasswordVariable);
    status = -1;
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, got);
    }
    const int ended = pclose(pipe);
    const int code = WIFEXITED(ended) ? WEXITSTATUS(ended) : -1;
    status = code == 126 || code == 127 ? -1 : code;
    return output;
}

static bool WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* file = OpenFile(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

// The image without its signature and without tag lines appended to it, and
// the tags found there.
static bool UnsignedImage(const std::string& path, const std::string& bytes, std::string& image,
                          std::vector<std::string>& tags) {
    const CertTable table = ReadCertTable(bytes);
    std::string problem;
    if (table.Signed) {
        if (!StripSignature(bytes, image, problem)) {
            Fail("refused, nothing changed: " + path + ": " + problem);
            return false;
        }
        // Tags in the old table carry over; anything else there goes with it.
        if (table.BlobEnd != 0) {
            (void)ReadTagLines(bytes, table.BlobEnd, bytes.size(), tags);
        }
        return true;
    }
    const PeFacts facts = ReadPeFacts(bytes);
    if (!facts.IsPe) {
        Fail("refused, nothing changed: " + path + " is not a Windows executable (no PE headers)");
        return false;
    }
    const size_t end = facts.ImageEnd < bytes.size() ? static_cast<size_t>(facts.ImageEnd) : bytes.size();
    problem = ReadTagLines(bytes, end, bytes.size(), tags);
    if (!problem.empty()) {
        Fail("refused, nothing changed: " + path + " holds " + std::to_string(bytes.size() - end) +
             " bytes after its image that are not tag lines: signing would leave any tags among them out of "
             "the "
             "last 256 bytes");
        return false;
    }
    image = bytes.substr(0, end);
    return true;
}

bool SignExecutable(const std::string& path, const SigningRequest& request, const std::string& shownAs) {
    std::string bytes;
    std::string error;
    if (!ReadWholeFile(path, bytes, error)) {
        Fail("cannot read " + path + ": " + error);
        return false;
    }
    std::string image;
    std::vector<std::string> tags;
    if (!UnsignedImage(path, bytes, image, tags)) {
        return false;
    }
    const std::string in = path + ".unsigned-tmp";
    const std::string out = path + ".signed-tmp";
    std::vector<std::string> args = {"sign", "-h", "sha256"};
    if (request.Pkcs12.empty()) {
        args.insert(args.end(), {"-certs", request.Cert, "-key", request.Key});
    } else {
        args.insert(args.end(), {"-pkcs12", request.Pkcs12});
    }
    if (!request.Timestamp.empty()) {
        args.insert(args.end(), {"-ts", request.Timestamp});
    }
    args.insert(args.end(), {"-in", in, "-out", out});
    std::error_code code;
    std::filesystem::remove(PathOf(out), code);
    if (!WriteBytes(in, image)) {
        std::filesystem::remove(PathOf(in), code);
        Fail("cannot write " + in + ", nothing changed");
        return false;
    }
    int status = -1;
    const bool withPassword = !request.PasswordFile.empty() || !request.PasswordVariable.empty();
    const std::string output = RunSigner(args, withPassword ? &request.Password : nullptr, status);
    std::string signedBytes;
    const bool signedOk = status == 0 && ReadWholeFile(out, signedBytes, error);
    std::filesystem::remove(PathOf(in), code);
    std::filesystem::remove(PathOf(out), code);
    if (!signedOk) {
        (void)fputs(output.c_str(), stderr);
        Fail(status < 0 ? "cannot run osslsigncode to sign " + path
             : status != 0
                 ? "osslsigncode failed signing " + path + " (exit status " + std::to_string(status) + ")"
                 : "osslsigncode wrote no signed copy of " + path + ": " + error);
        return false;
    }
    std::string result = signedBytes;
    if (!tags.empty() && !StampIntoCertTable(signedBytes, tags, result, error)) {
        Fail("refused, nothing changed: " + path + ": " + error);
        return false;
    }
    if (!ReplaceFileContents(path, result, error)) {
        Fail("cannot write " + path + ", nothing changed: " + error);
        return false;
    }
    std::string names;
    for (const std::string& tag : tags) {
        names += (names.empty() ? "" : ", ") + tag;
    }
    printf("%s: signed (SHA-256)%s\n", (shownAs.empty() ? path : shownAs).c_str(),
           names.empty() ? "" : (", tags inside the signature: " + names).c_str());
    return true;
}

static std::string Verify(const std::string& path, const std::string& ca, int& status) {
    std::vector<std::string> args = {"verify", "-in", path};
    if (!ca.empty()) {
        args.insert(args.end(), {"-CAfile", ca, "-TSA-CAfile", ca});
    }
    return RunSigner(args, nullptr, status);
}
#endif

int SignPackage(const std::string& directory, const SigningRequest& request) {
    std::vector<std::string> names;
    if (!IsDirectory(directory) || !ListDirectory(directory, names)) {
        Fail("cannot read the package directory " + directory);
        return 1;
    }
    for (const char* wanted : {"setup.exe", "unzip.exe"}) {
        const std::string name = FindNameIgnoringCase(names, wanted);
        if (name.empty()) {
            Fail(std::string("refused: no ") + wanted + " in " + directory);
            return 1;
        }
    }
    for (const char* wanted : {"setup.exe", "unzip.exe"}) {
        if (!SignExecutable(JoinPath(directory, FindNameIgnoringCase(names, wanted)), request)) {
            return 1;
        }
    }
    return 0;
}

// The value after "label" on the first line holding it, trimmed.
static std::string ValueAfter(const std::string& output, const std::string& label) {
    const size_t at = output.find(label);
    if (at == std::string::npos) {
        return "";
    }
    const size_t start = output.find_first_not_of(" \t", at + label.size());
    const size_t end = output.find('\n', at);
    return start == std::string::npos || start >= end ? "" : output.substr(start, end - start);
}

SignatureReport CheckSignature(const std::string& path, const std::string& bytes, const std::string& ca) {
    SignatureReport report;
    const CertTable table = ReadCertTable(bytes);
    if (!table.Signed) {
        return report;
    }
    report.TagsInside = table.Tags;
    // Data after the table is hashed: that much is told without cryptography.
    if (table.Offset > bytes.size() || bytes.size() - table.Offset != table.Size) {
        report.State = SignatureState::Broken;
        report.Detail = table.Problem;
        return report;
    }
    int status = -1;
    const std::string output = Verify(path, ca, status);
    report.Subject = ValueAfter(output, "Subject:");
    // OpenSSL's reason, which osslsigncode passes on.
    const std::string verifyError = ValueAfter(output, "Verify error:");
    const std::string error = verifyError.empty() ? ValueAfter(output, "Error:") : verifyError;
    if (status < 0) {
        report.State = SignatureState::Unverified;
        report.Detail = NotVerified;
    } else if (ValueAfter(output, "Calculated message digest").find("MISMATCH") != std::string::npos) {
        report.State = SignatureState::Broken;
        report.Detail = "the signed bytes were changed after signing (osslsigncode: digest mismatch)";
    } else if (status == 0 && output.find("Signature verification: ok") != std::string::npos) {
        report.State = SignatureState::Valid;
        report.Detail =
            "chain checked against " + (ca.empty() ? std::string("the system's CA certificates") : ca);
        if (output.find("Timestamp Server Signature verification: ok") != std::string::npos) {
            report.Detail += "; time-stamped";
        }
    } else if (ca.empty() && output.find("Calculated message digest") != std::string::npos) {
        report.State = SignatureState::Valid;
        report.Detail = "the signed bytes match; chain not checked: " +
                        (error.empty() ? std::string("no trusted CA") : error) + "; give --ca CA.pem";
    } else {
        report.State = SignatureState::Broken;
        report.Detail = "osslsigncode verify fails" + (error.empty() ? std::string() : ": " + error) +
                        (ca.empty() ? "" : " (CA " + ca + ")");
    }
    return report;
}
