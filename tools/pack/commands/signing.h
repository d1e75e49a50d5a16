// Authenticode signatures of a package's executables: signing through
// osslsigncode (on the build host; pack.exe does not sign) and checking them.
#pragma once

#include <string>
#include <vector>

struct SigningRequest {
    std::string Cert;              // PEM certificate (chain), with Key
    std::string Key;               // PEM private key
    std::string Pkcs12;            // or both in one PKCS#12 file
    std::string PasswordFile;      // the key's password, first line of this file
    std::string PasswordVariable;  // or the environment variable of this name
    std::string Password;          // as LoadPassword read it
    std::string Timestamp;         // RFC 3161 time-stamping URL, or ""
    std::string TimestampTimeout;  // seconds to wait for its answer, as given; "" for 60
    bool Wanted() const { return !Cert.empty() || !Key.empty() || !Pkcs12.empty(); }
};

// "" when the signing options go together (and, on Windows, when none is
// given: pack.exe does not sign), else what is wrong with them.
std::string SigningProblem(const SigningRequest& request);

// The seconds --timestamp-timeout gives (60 when not given), 0 when it is
// not a number from 1 to 3600.
int TimestampSeconds(const SigningRequest& request);

// Why a signing certificate cannot sign now, from openssl x509's -startdate,
// -enddate and -ext extendedKeyUsage lines (fields), at now (seconds since
// 1970): expired, not yet valid, or without the code-signing purpose; ""
// when it can.
std::string CertificateFault(const std::string& fields, long long now);

// Reads the password from its file or variable, once; false with problem
// set when it cannot.
bool LoadPassword(SigningRequest& request, std::string& problem);

// Signs the executable in place with SHA-256. An old signature is removed
// first, and tags found in it or appended to the unsigned image are written
// back inside the new certificate table. false, the file unchanged, with a
// message printed, on any failure. The report calls it shownAs when given.
bool SignExecutable(const std::string& path, const SigningRequest& request, const std::string& shownAs = "");

// pack sign DIRECTORY: signs the package's setup.exe and unzip.exe. Returns
// the exit status.
int SignPackage(const std::string& directory, const SigningRequest& request);

enum class SignatureState { None, Valid, Broken, Unverified };

struct SignatureReport {
    SignatureState State = SignatureState::None;
    std::string Subject;                  // the signer, when told
    std::string Detail;                   // what was checked, or what is wrong
    std::vector<std::string> TagsInside;  // tag lines inside the certificate table
};

// The detail of a valid signature whose chain was not checked (no --ca).
extern const char ChainNotChecked[];

// The signature of an executable (bytes read from path): none, valid (the
// signed bytes match, and the signer's chain leads to ca when one is given),
// broken, or, where osslsigncode cannot be run, not verified.
SignatureReport CheckSignature(const std::string& path, const std::string& bytes, const std::string& ca);
