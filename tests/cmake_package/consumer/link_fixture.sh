#!/bin/sh
# Stands in for a firmware linker: link_fixture.sh ELF COMMAND... runs the
# host's link command, then puts ELF, a real linker's output, at its -o name.
elf=$1
shift
"$@" || exit
while [ "$1" != -o ]; do shift; done
cp "$elf" "$2"
