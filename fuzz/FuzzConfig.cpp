// The configuration reader: the input is a configuration file, INCLUDE lines and
// all (an INCLUDE of the input itself is a cycle the reader must cut).
#include "FuzzInput.h"
#include "app/CfgStore.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(FuzzInput::quietMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CfgStore store;
    store.init(QStringList{QStringLiteral("orvo2"), QStringLiteral("-c"), QStringLiteral("x")});
    store.read(FuzzInput::write("config", data, size));
    qsizetype total = store.lines().size();
    total += store.value(QStringLiteral("DataRoot")).size();
    return total == -1 ? 1 : 0;
}
