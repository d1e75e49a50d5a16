// Signing through osslsigncode, then the tags written inside the new
// certificate table; and reading back what a signature says.
#include "tools/pack/commands/signing.h"

#include <stdio.h>
#include <stdlib.h>

#include <string.h>
#include <time.h>

#include <algorithm>
#include <filesystem>

#include "tools/pack/commands/report.h"
#include "tools/pack/formats/cert_table.h"
#include "tools/pack/formats/pe_image.h"
#include "tools/pack/host/files.h"
#include "tools/pack/host/processes.h"
#include "tools/pack/names/file_names.h"

const char ChainNotChecked[] = "chain not checked; give --ca";

int TimestampSeconds(const SigningRequest& request) {
    const std::string& text = request.TimestampTimeout;
    if (text.empty()) {
        return 60;
    }
    if (text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    const int seconds = atoi(text.c_str());
    return seconds <= 3600 ? seconds : 0;
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
    if (!request.TimestampTimeout.empty() && (request.Timestamp.empty() || TimestampSeconds(request) == 0)) {
        return "--timestamp-timeout takes a number of seconds from 1 to 3600, with --timestamp";
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
#ifndef _WIN32
        // Read once, it leaves the environment: no child inherits it.
        (void)unsetenv(request.PasswordVariable.c_str());
#endif
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

static int SignatureValueHolds(const std::string&, const CertTable&) {
    return -1;
}
#else
static const char NotVerified[] = "not verified: osslsigncode cannot be run here";

// Runs program (osslsigncode or openssl) with args and returns what it
// printed, standard error included; status is its exit status, -1 when it
// could not be run, ChildTimedOut when it ran past timeout seconds (0: no
// limit). input, when given, is its standard input: the only way a
// password reaches it (never its command line or environment).
static std::string RunTool(const char* program, const std::vector<std::string>& args,
                           const std::string* input, int& status, int timeout = 0) {
    std::string output;
    ChildRun run;
    run.Program = program;
    run.Args = args;
    run.Input = input;
    run.Output = &output;
    run.ErrorsToOutput = true;
    run.TimeoutSeconds = timeout;
    status = RunChild(run);
    return output;
}

// osslsigncode reading the password, when there is one, from its standard
// input.
static std::string RunSigner(std::vector<std::string> args, const std::string* password, int& status,
                             int timeout = 0) {
    std::string input;
    if (password != nullptr) {
        args.insert(args.end(), {"-readpass", "/dev/stdin"});
        input = *password + "\n";
    }
    return RunTool("osslsigncode", args, password != nullptr ? &input : nullptr, status, timeout);
}

// "notBefore=Dec  9 18:41:40 2026 GMT" as seconds since 1970, or -1.
static long long CertificateTime(const std::string& output, const char* label) {
    const size_t at = output.find(label);
    tm parts{};
    if (at == std::string::npos ||
        strptime(output.c_str() + at + strlen(label), "%b %d %H:%M:%S %Y GMT", &parts) == nullptr) {
        return -1;
    }
    return static_cast<long long>(timegm(&parts));
}

std::string CertificateFault(const std::string& fields, long long now) {
    const long long notBefore = CertificateTime(fields, "notBefore=");
    const long long notAfter = CertificateTime(fields, "notAfter=");
    if (notAfter >= 0 && now > notAfter) {
        return "the certificate has expired";
    }
    if (notBefore >= 0 && now < notBefore) {
        return "the certificate is not yet valid";
    }
    const size_t usage = fields.find("X509v3 Extended Key Usage");
    if (usage != std::string::npos) {
        const size_t line = fields.find('\n', usage);
        const size_t end = line == std::string::npos ? line : fields.find('\n', line + 1);
        const std::string purposes = fields.substr(usage, end == std::string::npos ? end : end - usage);
        if (purposes.find("Code Signing") == std::string::npos &&
            purposes.find("Any Extended Key Usage") == std::string::npos) {
            return "the certificate lacks the code-signing purpose (its extended key usage does not name it)";
        }
    }
    return "";
}

// Each PEM certificate in text, or the whole text when it holds none (DER).
static std::vector<std::string> PemCertificates(const std::string& text) {
    static const char begin[] = "-----BEGIN CERTIFICATE-----";
    static const char end[] = "-----END CERTIFICATE-----";
    std::vector<std::string> found;
    size_t at = text.find(begin);
    while (at != std::string::npos) {
        const size_t stop = text.find(end, at);
        if (stop == std::string::npos) {
            break;
        }
        found.push_back(text.substr(at, stop + sizeof end - 1 - at) + "\n");
        at = text.find(begin, stop);
    }
    if (found.empty()) {
        found.push_back(text);
    }
    return found;
}

// What is wrong with the signing certificate and key, found before
// anything is signed; "" when nothing is (or when openssl cannot tell:
// osslsigncode then reports what it finds).
static std::string SignerProblem(const SigningRequest& request) {
    const std::string password = request.Password + "\n";
    const bool withPassword = !request.PasswordFile.empty() || !request.PasswordVariable.empty();
    const std::string* input = withPassword ? &password : nullptr;
    const std::vector<std::string> passin = {"-passin", withPassword ? "stdin" : "pass:"};
    int status = -1;
    std::string certificate;
    std::string where = request.Pkcs12.empty() ? request.Cert : request.Pkcs12;
    if (request.Pkcs12.empty()) {
        std::string error;
        (void)ReadWholeFile(request.Cert, certificate, error);
        // A chain file may hold the issuers too, in any order: the signer's
        // certificate is the one whose key is the key given.
        std::vector<std::string> args = {"pkey", "-in", request.Key, "-pubout"};
        args.insert(args.end(), passin.begin(), passin.end());
        const std::string key = RunTool("openssl", args, input, status);
        bool readable = false;
        std::string matching;
        for (const std::string& one : PemCertificates(certificate)) {
            int read = -1;
            const std::string certKey =
                status == 0 ? RunTool("openssl", {"x509", "-noout", "-pubkey"}, &one, read) : "";
            readable = readable || read == 0;
            if (read == 0 && certKey == key) {
                matching = one;
                break;
            }
        }
        if (readable && matching.empty()) {
            return "the key " + request.Key + " does not match the certificate " + request.Cert;
        }
        if (!matching.empty()) {
            certificate = matching;
        }
    } else {
        std::vector<std::string> args = {"pkcs12", "-in", request.Pkcs12, "-nokeys", "-clcerts"};
        args.insert(args.end(), passin.begin(), passin.end());
        certificate = RunTool("openssl", args, input, status);
        if (status != 0) {
            return "";
        }
    }
    const std::string fields =
        RunTool("openssl", {"x509", "-noout", "-startdate", "-enddate", "-ext", "extendedKeyUsage"},
                &certificate, status);
    if (status != 0) {
        return "";
    }
    const std::string fault = CertificateFault(fields, static_cast<long long>(time(nullptr)));
    if (!fault.empty()) {
        return fault + " (" + where + ")";
    }
    return "";
}

// The image without its signature and without tag lines appended to it, and
// the tags found there. A damaged file is refused, never signed: stripping
// a stale table would cut the image itself.
static bool UnsignedImage(const std::string& path, const std::string& file, std::string& image,
                          std::vector<std::string>& tags) {
    const std::string damage = ExecutableDamage(file);
    if (!damage.empty()) {
        Fail("refused, nothing changed: " + path + ": " + damage);
        return false;
    }
    const PeImage pe = ReadPeImage(file);
    CertTable table = ReadCertTable(file, pe);
    std::string bytes = file;
    if (!table.TagsAfter.empty()) {
        // Tags appended after the old signature go inside the new one.
        bytes = file.substr(0, table.Offset + table.Size);
        const std::vector<std::string> after = table.TagsAfter;
        table = ReadCertTable(bytes, pe);
        for (const std::string& tag : after) {
            if (std::find(table.Tags.begin(), table.Tags.end(), tag) == table.Tags.end()) {
                table.Tags.push_back(tag);
            }
        }
    }
    std::string problem;
    if (table.Signed) {
        if (!StripSignature(bytes, table, image, problem)) {
            Fail("refused, nothing changed: " + path + ": " + problem);
            return false;
        }
        // Tags in the old table carry over.
        tags = table.Tags;
        return true;
    }
    if (!pe.IsPe) {
        Fail("refused, nothing changed: " + path + " is not a Windows executable (no PE headers)");
        return false;
    }
    const size_t end = static_cast<size_t>(pe.ImageEnd);
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

// One signed executable, made in memory: the file is not written yet.
struct SignedCopy {
    std::string Original;
    std::string Result;
    std::vector<std::string> Tags;
};

static bool MakeSignedCopy(const std::string& path, const SigningRequest& request, SignedCopy& copy) {
    std::string& bytes = copy.Original;
    std::vector<std::string>& tags = copy.Tags;
    std::string error;
    if (!ReadWholeFile(path, bytes, error)) {
        Fail("cannot read " + path + ": " + error);
        return false;
    }
    std::string image;
    if (!UnsignedImage(path, bytes, image, tags)) {
        return false;
    }
    const std::string signer = SignerProblem(request);
    if (!signer.empty()) {
        Fail("refused, nothing signed: " + signer);
        return false;
    }
    // The copies osslsigncode reads and writes live in a directory made new
    // for them, where no one can have planted a name or a link.
    const std::string scratch = NewDirectoryBeside(path, "sign");
    if (scratch.empty()) {
        Fail("cannot create a directory beside " + path + ", nothing changed");
        return false;
    }
    const std::string in = JoinPath(scratch, "unsigned.exe");
    const std::string out = JoinPath(scratch, "signed.exe");
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
    if (!WriteNewFile(in, image, error)) {
        std::filesystem::remove_all(PathOf(scratch), code);
        Fail(error + ", nothing changed");
        return false;
    }
    int status = -1;
    const bool withPassword = !request.PasswordFile.empty() || !request.PasswordVariable.empty();
    const int timeout = request.Timestamp.empty() ? 0 : TimestampSeconds(request);
    const std::string output = RunSigner(args, withPassword ? &request.Password : nullptr, status, timeout);
    std::string signedBytes;
    const bool signedOk = status == 0 && ReadWholeFile(out, signedBytes, error);
    std::filesystem::remove_all(PathOf(scratch), code);
    if (status == ChildTimedOut) {
        Fail("the time-stamping server " + request.Timestamp + " gave no answer within " +
             std::to_string(timeout) + (timeout == 1 ? " second" : " seconds") +
             " (--timestamp-timeout): " + path + " not signed, nothing changed");
        return false;
    }
    if (!signedOk) {
        (void)fputs(output.c_str(), stderr);
        Fail(status < 0 ? "cannot run osslsigncode to sign " + path
             : status != 0
                 ? "osslsigncode failed signing " + path + " (exit status " + std::to_string(status) + ")"
                 : "osslsigncode wrote no signed copy of " + path + ": " + error);
        return false;
    }
    copy.Result = signedBytes;
    CertTable stampedTable;
    if (!tags.empty() && !StampIntoCertTable(signedBytes, ReadCertTable(signedBytes), tags, copy.Result,
                                             stampedTable, error)) {
        Fail("refused, nothing changed: " + path + ": " + error);
        return false;
    }
    return true;
}

static bool WriteSignedCopy(const std::string& path, const SignedCopy& copy) {
    std::string error;
    if (!ReplaceFileContents(path, copy.Result, error)) {
        Fail("cannot write " + path + ", nothing changed: " + error);
        return false;
    }
    return true;
}

static void ReportSigned(const std::string& shownAs, const SignedCopy& copy) {
    std::string names;
    for (const std::string& tag : copy.Tags) {
        names += (names.empty() ? "" : ", ") + tag;
    }
    printf("%s: signed (SHA-256)%s\n", shownAs.c_str(),
           names.empty() ? "" : (", tags inside the signature: " + names).c_str());
}

bool SignExecutable(const std::string& path, const SigningRequest& request, const std::string& shownAs) {
    SignedCopy copy;
    if (!MakeSignedCopy(path, request, copy) || !WriteSignedCopy(path, copy)) {
        return false;
    }
    ReportSigned(shownAs.empty() ? path : shownAs, copy);
    return true;
}

static std::string Verify(const std::string& path, const std::string& ca, int& status) {
    std::vector<std::string> args = {"verify", "-in", path};
    if (!ca.empty()) {
        args.insert(args.end(), {"-CAfile", ca, "-TSA-CAfile", ca});
    }
    return RunSigner(args, nullptr, status);
}

// The signature value checked against the signer's certificate, and the
// signed content against its messageDigest, whatever the chain: 1 when both
// hold, 0 when either fails, -1 when openssl cannot be run.
static int SignatureValueHolds(const std::string& bytes, const CertTable& table) {
    std::string der;
    if (!DataSignedBlob(bytes, table, der)) {
        return 0;
    }
    int status = -1;
    (void)RunTool("openssl",
                  {"smime", "-verify", "-inform", "DER", "-noverify", "-binary", "-out", "/dev/null"}, &der,
                  status);
    return status < 0 ? -1 : status == 0 ? 1 : 0;
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
#ifdef _WIN32
    return SignExecutable(JoinPath(directory, FindNameIgnoringCase(names, "setup.exe")), request) ? 0 : 1;
#else
    // Both are signed in memory before either is written: a package is
    // never left with one executable signed and the other refused.
    const std::string setup = JoinPath(directory, FindNameIgnoringCase(names, "setup.exe"));
    const std::string extractor = JoinPath(directory, FindNameIgnoringCase(names, "unzip.exe"));
    SignedCopy setupCopy;
    SignedCopy extractorCopy;
    if (!MakeSignedCopy(setup, request, setupCopy) || !MakeSignedCopy(extractor, request, extractorCopy) ||
        !WriteSignedCopy(setup, setupCopy)) {
        return 1;
    }
    if (!WriteSignedCopy(extractor, extractorCopy)) {
        std::string error;
        if (!ReplaceFileContents(setup, setupCopy.Original, error)) {
            Fail("cannot put " + setup + " back as it was: " + error);
        }
        return 1;
    }
    ReportSigned(setup, setupCopy);
    ReportSigned(extractor, extractorCopy);
    return 0;
#endif
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
    if (!table.Problem.empty()) {
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
    const int value = status < 0 ? -1 : SignatureValueHolds(bytes, table);
    if (status < 0 || value < 0) {
        report.State = SignatureState::Unverified;
        report.Detail = NotVerified;
    } else if (ValueAfter(output, "Calculated message digest").find("MISMATCH") != std::string::npos) {
        report.State = SignatureState::Broken;
        report.Detail = "the signed bytes were changed after signing (osslsigncode: digest mismatch)";
    } else if (value == 0) {
        report.State = SignatureState::Broken;
        report.Detail =
            "the signature does not verify against the signer's certificate (its value or its signed digest "
            "was changed)";
    } else if (status == 0 && output.find("Signature verification: ok") != std::string::npos) {
        report.State = SignatureState::Valid;
        report.Detail =
            "chain checked against " + (ca.empty() ? std::string("the system's CA certificates") : ca);
        if (output.find("Timestamp Server Signature verification: ok") != std::string::npos) {
            report.Detail += "; time-stamped";
        }
    } else if (ca.empty() && output.find("Calculated message digest") != std::string::npos) {
        report.State = SignatureState::Valid;
        report.Detail = ChainNotChecked;
    } else {
        report.State = SignatureState::Broken;
        report.Detail = "osslsigncode verify fails" + (error.empty() ? std::string() : ": " + error) +
                        (ca.empty() ? "" : " (CA " + ca + ")");
    }
    return report;
}
