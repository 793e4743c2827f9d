#pragma once

#include <QString>
#include <QStringList>

class CfgStore;

// The options that make one run a part of a larger one: a cluster task computes
// one set of a sequential run with the CPUs it was given, and the submission
// first asks which sets there are.
struct RunOptions
{
    // -set K: the data directory's set list keeps set K (0-based) only; -1: all.
    int onlySet = -1;
    // -threads N: engines used whatever the script asks for; 0: as the script says.
    int threads = 0;
    // -sets: list the sets the script selects and end without computing.
    bool listSets = false;
    // What makes the command line unusable, one message per option.
    QStringList problems;

    bool ok() const { return problems.isEmpty(); }

    // Reads the options from the store (command line and configuration file).
    static RunOptions fromStore(const CfgStore &cfg);
};
