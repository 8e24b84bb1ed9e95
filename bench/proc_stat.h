#pragma once
// What the benchmarks that start the program read of it from /proc.

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/types.h>

namespace bench {

// The CPU time a process has used, user and system, in clock ticks (-1 when it is gone).
inline long cpuTicks(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')');   // the command name may hold spaces and brackets
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::atol(field.c_str());
        if (i == 15)
            stime = std::atol(field.c_str());
    }
    return utime + stime;
}

} // namespace bench
