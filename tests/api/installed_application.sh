#!/bin/sh
# Installs the build into a scratch prefix and builds and runs a C application against it with
# the compiler and linker flags of the installed pkg-config file.
# Usage: installed_application.sh BUILD_DIR WORK_DIR C_COMPILER [EXTRA_FLAGS...]
set -eu
build=$1
work=$2
cc=$3
shift 3

rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"

pcdir=$(dirname "$(find "$work/prefix" -name qrt-sdk.pc | head -n 1)")
cat >"$work/app.c" <<'APP'
#include <stdio.h>
#include <string.h>

#include "QRT_SDK.h"

int main(void) {
    char text[128];
    if (QRT_GetSDKInfo(text, (int)sizeof text) != QRT_SUCCESS) return 1;
    fputs(text, stdout);
    printf("%u products\n", QRT_GetProductNums());
    return strstr(text, "SDK Version:1.7.7.0130\r\n") != NULL ? 0 : 2;
}
APP
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs qrt-sdk)
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra "$@" -o "$work/app" "$work/app.c" $flags
"$work/app"
