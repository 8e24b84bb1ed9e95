#pragma once
#include <string>

namespace kel_test {

// A fresh simulated board for one test: a new empty data root under the build tree,
// every model and the journal back to defaults, the virtual clock on. The root is left
// behind after the test for a person to look at.
class TestRoot {
public:
    explicit TestRoot(bool virtualClock = true);
    ~TestRoot();
    const std::string& path() const { return path_; }
    // The host path of a board path ("/data/ram_device_info" -> "<root>/data/ram_device_info").
    std::string host(const std::string& systemPath) const;
    std::string readFile(const std::string& systemPath) const;
    void writeFile(const std::string& systemPath, const std::string& content) const;
    bool exists(const std::string& systemPath) const;

private:
    std::string path_;
};

// Where test artefacts (screen grabs) go: $KEL_ARTEFACTS, or "test-artefacts" in the build tree.
std::string artefactDir();

} // namespace kel_test
