// The reference-spectrum reader: the input is a reference file (CSV, XDI or columns),
// read and then interpolated onto a grid that runs past both of its ends.
#include "FuzzInput.h"
#include "xafs/XafsReference.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(FuzzInput::quietMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    XafsReference reference;
    if (!reference.read(FuzzInput::write("reference", data, size)))
        return 0;
    const double low = reference.energies.front(), high = reference.energies.back();
    const std::vector<double> values =
        reference.onto({low - 1.0, low, (low + high) / 2, high, high + 1.0});
    return values.size() == 5 ? 0 : 1;
}
