// The batch loader and line parser: the input is a script file; every stored
// line is parsed and its arguments read in every form the commands use.
#include "FuzzInput.h"
#include "batch/Batch.h"
#include "batch/BatchCmd.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(FuzzInput::quietMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Batch batch;
    batch.batchLoad(FuzzInput::write("batch", data, size));
    qsizetype total = 0;
    for (const QString &line : batch.scriptLines()) {
        BatchCmd c(line);
        total += c.argText(0).size() + c.argsFrom(1).size() + c.restJoined().size();
        total += c.argInt(1) + static_cast<qsizetype>(c.argDouble(2) > 0.0);
        if (c.isCmd(QStringLiteral(":ifok")))
            total += BatchCmd(c.restText()).args.size();
    }
    return total == -1 ? 1 : 0;
}
