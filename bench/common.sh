# Shared by the bench scripts: sourced, not run.

# The median of the numbers on stdin, one a line.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# seconds START END: END - START of two $EPOCHREALTIME stamps, to the millisecond.
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# need_built BUILD EXE...: every EXE (relative to BUILD) built, or a message and exit 1.
need_built() {
    local build=$1 exe
    shift
    for exe in "$@"; do
        if [ ! -x "$build/$exe" ]; then
            echo "missing $build/$exe: build first (scripts/build.sh $build -DCMAKE_BUILD_TYPE=Release)" >&2
            exit 1
        fi
    done
}

# install_packages INSTALL PACKAGE...: with INSTALL = 1 installs the Debian packages
# with apt-get (root or sudo), otherwise says they are missing and exits 1.
install_packages() {
    local install=$1
    shift
    if [ "$install" != 1 ]; then
        echo "missing: $* (Debian packages)" >&2
        exit 1
    fi
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" > /dev/null
}
