// A fresh temporary directory per test, removed with everything in it afterwards.
#pragma once

#include <string>

namespace corvane::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string Path(const std::string& relative) const { return m_path + "/" + relative; }

private:
    std::string m_path;
};

}  // namespace corvane::test
