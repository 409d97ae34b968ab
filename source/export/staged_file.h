// An output written under a temporary name beside its target and renamed over the target only
// once it is complete. An export that fails or is interrupted then leaves no half-written file,
// and an earlier file of the target's name stays as it was. Renaming within one folder is atomic,
// so a reader sees either the old file or the whole new one.
#pragma once

#include <string>

class CStagedFile {
public:
    explicit CStagedFile(std::string strTarget);
    // Removes the temporary file unless it was committed.
    ~CStagedFile();
    CStagedFile(const CStagedFile&) = delete;
    CStagedFile& operator=(const CStagedFile&) = delete;

    // Creates a new, empty temporary file in the target's folder ("." + name + a random part, so
    // file managers hide it). False with the system's error number in *pError when the folder
    // cannot take it (missing, read-only, full).
    bool Create(int* pError);
    // Renames the temporary file over the target. False with the error number when it cannot be.
    bool Commit(int* pError);

    const std::string& Target() const { return m_strTarget; }
    const std::string& TempPath() const { return m_strTemp; }

private:
    std::string m_strTarget;
    std::string m_strTemp;
    bool m_bCommitted = false;
};
