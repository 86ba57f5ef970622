#!/bin/bash
# Installs the current build into a temporary prefix and checks what a user
# gets there: the programs, the control library (found and registered by the
# installed mbusctl), the manual pages and the bash completions.
#
# usage: install_test.sh BUILD_DIR BINDIR LIBDIR MANDIR DATADIR WITH_CONFIGURATOR

set -u
build=$1 bindir=$2 libdir=$3 mandir=$4 datadir=$5 configurator=$6

work=$(mktemp -d "${TMPDIR:-/tmp}/mbus-install-XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    echo "FAIL: cmake --install" >&2
    exit 1
fi

# ---- The files --------------------------------------------------------------
for program in mbusctl mbus-sim regsvr mbus-bridge; do
    [[ -x $prefix/$bindir/$program ]] || fail "$bindir/$program missing or not executable"
done
[[ -f $prefix/$libdir/libMBusOrlX4Ctrl.so ]] || fail "$libdir/libMBusOrlX4Ctrl.so missing"
for page in mbusctl mbus-sim; do
    [[ -f $prefix/$datadir/bash-completion/completions/$page ]] ||
        fail "$datadir/bash-completion/completions/$page missing"
done
for page in mbusctl mbus-sim mbus-bridge; do
    [[ -f $prefix/$mandir/man1/$page.1 ]] || fail "$mandir/man1/$page.1 missing"
done
# The service: its unit names the installed program, and the example
# configuration installed beside the documentation is one the program takes.
unit=$prefix/lib/systemd/system/mbus-bridge.service
[[ -f $unit ]] || fail "lib/systemd/system/mbus-bridge.service missing"
grep -q "^ExecStart=$prefix/$bindir/mbus-bridge " "$unit" 2>/dev/null || fail "mbus-bridge.service does not start $prefix/$bindir/mbus-bridge"
example=$prefix/$datadir/doc/mbus-bridge/mbus-bridge.toml
[[ -f $example ]] || fail "$datadir/doc/mbus-bridge/mbus-bridge.toml missing"
"$prefix/$bindir/mbus-bridge" --check --config "$example" >"$work/check" 2>&1 || fail "mbus-bridge --check of the installed example: $(cat "$work/check")"
if [[ $configurator == ON ]]; then
    [[ -x $prefix/$bindir/MERIDEX ]] || fail "$bindir/MERIDEX missing"
    for language in Deutsch English; do
        [[ -f $prefix/$bindir/$language/MERIDEX.html ]] || fail "help page $bindir/$language/MERIDEX.html missing"
    done
fi
[[ $failures -eq 0 ]] || exit 1

mbusctl=$prefix/$bindir/mbusctl
"$mbusctl" --help >"$work/help" 2>&1 || fail "mbusctl --help exits with $?"
grep -q "^usage: mbusctl COMMAND" "$work/help" || fail "mbusctl --help: no usage"

# ---- The manual pages render without warnings -------------------------------
for page in mbusctl mbus-sim mbus-bridge; do
    file=$prefix/$mandir/man1/$page.1
    if command -v man >/dev/null; then
        LC_ALL=C MANWIDTH=80 man --warnings=w -l "$file" >"$work/$page.txt" 2>"$work/$page.warnings"
    else
        LC_ALL=C groff -man -Tutf8 -ww "$file" >"$work/$page.txt" 2>"$work/$page.warnings"
    fi
    [[ $? -eq 0 ]] || fail "$page.1 does not render"
    [[ -s $work/$page.warnings ]] && fail "$page.1: $(cat "$work/$page.warnings")"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
        grep -q "^$section" "$work/$page.txt" || fail "$page.1 has no section $section"
    done
done
grep -q "MBUS_PORT_MAP" "$work/mbusctl.txt" && grep -q "MBUS_REGISTRY" "$work/mbusctl.txt" ||
    fail "mbusctl.1 does not name its environment"
# Every command and option mbusctl --help lists is in the page.
sed -n '/^COMMANDS/,/^OPTIONS/p' "$work/mbusctl.txt" >"$work/commands.txt"
for command in $(sed -n '/^commands:/,/^$/s/^  \([a-z]\+\) .*/\1/p' "$work/help"); do
    grep -Eq "^ {7}$command( |\$)" "$work/commands.txt" || fail "mbusctl.1 does not describe the command $command"
    for option in $("$mbusctl" "$command" --help 2>/dev/null | grep -o -- '--[a-z-]\+' | sort -u); do
        grep -q -- "$option" "$work/mbusctl.txt" || fail "mbusctl.1 does not name $option of $command"
    done
done

# ---- The completions --------------------------------------------------------
completions=$prefix/$datadir/bash-completion/completions
for file in mbusctl mbus-sim; do
    bash -n "$completions/$file" || fail "bash -n rejects the completion file $file"
done
complete_words() {  # FILE FUNCTION WORD... -> the completions of the last word
    bash -c 'source "$1"; f=$2; shift 2; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); "$f"
             printf "%s\n" "${COMPREPLY[@]}"' _ "$@"
}
[[ $(complete_words "$completions/mbusctl" _mbusctl mbusctl re) == read ]] ||
    fail "mbusctl re<TAB> does not offer read: $(complete_words "$completions/mbusctl" _mbusctl mbusctl re)"
complete_words "$completions/mbusctl" _mbusctl mbusctl exchange --pa | grep -qx -- --parity ||
    fail "mbusctl exchange --pa<TAB> does not offer --parity"
complete_words "$completions/mbusctl" _mbusctl mbusctl decode --pa | grep -q . &&
    fail "mbusctl decode --pa<TAB> offers an option decode does not have"
complete_words "$completions/mbus-sim" _mbus_sim mbus-sim --fa | grep -qx -- --fault ||
    fail "mbus-sim --fa<TAB> does not offer --fault"
# Each option of a command's help is offered after that command.
for command in scan read decode exchange session call; do
    offered=$(complete_words "$completions/mbusctl" _mbusctl mbusctl "$command" --)
    for option in $("$mbusctl" "$command" --help 2>/dev/null | grep -o -- '^ *--[a-z-]\+=\?' | tr -d ' ' | sort -u); do
        grep -qx -- "$option" <<<"$offered" || fail "mbusctl $command --<TAB> does not offer $option"
    done
done

# ---- The installed mbusctl at work -------------------------------------------
unset MBUS_CONTROL_LIBRARY
export MBUS_REGISTRY=$work/registry
out=$("$mbusctl" decode "68 15 15 68 08 01 72 78 56 34 12 01 47 01 07 2A 00 00 00 04 13 D2 04 00 00 F6 16")
[[ $? -eq 0 ]] || fail "mbusctl decode exits with $?"
grep -q "Identification  12345678" <<<"$out" || fail "mbusctl decode: $out"

# Registering: the library is found beside the installed program.
printf 'APPVersion\nhelp COMPort\n' | "$mbusctl" session >"$work/session.out" 2>"$work/session.err"
[[ $? -eq 0 ]] || fail "mbusctl session exits with $?: $(cat "$work/session.err")"
library=$(cd "$prefix/$libdir" && pwd)/libMBusOrlX4Ctrl.so
grep -qF "registering $library" "$work/session.err" || fail "session did not register $library: $(cat "$work/session.err")"
grep -qF "$library" "$MBUS_REGISTRY" || fail "the registry does not name $library"
grep -q "dispatch id: 8" "$work/session.out" || fail "session help COMPort: $(cat "$work/session.out")"
grep -q "mbus> " "$work/session.err" && fail "a prompt although standard input is not a terminal"

script=$work/read.txt
printf '%s\n' "APPInitCom 1, 2400" "APPREQUD2 1" "wait" "APPReceiveTest" "APPManufacturerIDAsc" "APPCloseCom" >"$script"
printf '%s\n' "primary=1 id=12345678 man=QXA version=01 medium=07 records=0413D2040000" >"$work/bus.txt"
out=$("$mbusctl" session --simulate=bus:"$work/bus.txt" <"$script" 2>"$work/simulate.err")
[[ $? -eq 0 ]] || fail "mbusctl session --simulate exits with $?: $(cat "$work/simulate.err")"
[[ $out == $'3\nQXA' ]] || fail "mbusctl session --simulate printed: $out"

[[ $failures -eq 0 ]] || exit 1
echo "install test: all checks passed"
