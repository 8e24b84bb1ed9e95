#include "board/sim/Journal.h"

#include "board/sim/SimBoard.h"

#include <fstream>
#include <map>

namespace sim {

namespace {
std::mutex g_lock;
std::vector<JournalEntry> g_entries;
std::map<std::string, int> g_statusRules;
std::map<std::string, std::string> g_outputRules;
std::map<std::string, std::function<void()>> g_holds;
std::string g_file;        // a host run keeps the journal in a file under its data root

template <typename T>
const T* matchLongest(const std::map<std::string, T>& rules, const std::string& command)
{
    const T* best = nullptr;
    size_t bestLength = 0;
    for (const auto& [prefix, value] : rules) {
        if (command.compare(0, prefix.size(), prefix) == 0 && (best == nullptr || prefix.size() >= bestLength)) {
            best = &value;
            bestLength = prefix.size();
        }
    }
    return best;
}
} // namespace

void Journal::record(const std::string& kind, const std::string& text)
{
    const bool keep = SimBoard::recording();   // entries in memory are for tests; a host run
    std::lock_guard<std::mutex> hold(g_lock);  // that goes on for days keeps only the file
    if (keep)
        g_entries.push_back({kind, text});
    if (!g_file.empty()) {
        std::ofstream out(g_file, std::ios::app);
        out << kind << '\t' << text << '\n';
    }
}

void Journal::keepInFile(const std::string& hostPath)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_file = hostPath;
}

std::vector<JournalEntry> Journal::entries()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_entries;
}

std::vector<std::string> Journal::shellCommands()
{
    std::lock_guard<std::mutex> hold(g_lock);
    std::vector<std::string> out;
    for (const auto& e : g_entries)
        if (e.kind == "shell")
            out.push_back(e.text);
    return out;
}

bool Journal::hasShell(const std::string& exactText)
{
    for (const auto& c : shellCommands())
        if (c == exactText)
            return true;
    return false;
}

void Journal::clear()
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_entries.clear();
}

void Journal::setShellStatus(const std::string& commandPrefix, int rawStatus)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_statusRules[commandPrefix] = rawStatus;
}

void Journal::setShellOutput(const std::string& commandPrefix, const std::string& output)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_outputRules[commandPrefix] = output;
}

int Journal::shellStatus(const std::string& command)
{
    std::lock_guard<std::mutex> hold(g_lock);
    const int* rule = matchLongest(g_statusRules, command);
    return rule ? *rule : 0;
}

std::string Journal::shellOutput(const std::string& command)
{
    std::lock_guard<std::mutex> hold(g_lock);
    const std::string* rule = matchLongest(g_outputRules, command);
    return rule ? *rule : std::string();
}

void Journal::holdShell(const std::string& commandPrefix, std::function<void()> meanwhile)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_holds[commandPrefix] = std::move(meanwhile);
}

void Journal::runHeld(const std::string& command)
{
    std::function<void()> act;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        for (auto it = g_holds.begin(); it != g_holds.end(); ++it)
            if (command.compare(0, it->first.size(), it->first) == 0) {
                act = std::move(it->second);
                g_holds.erase(it);
                break;
            }
    }
    if (act)
        act();   // without the journal's lock: the act commands the shell too
}

void Journal::reset()
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_holds.clear();
    g_entries.clear();
    g_statusRules.clear();
    g_outputRules.clear();
}

} // namespace sim
