# Sourced by every script that runs Wine for this project, with W set to the
# session folder; its prefix is $W/prefix.
export WINEPREFIX="$W/prefix" WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko: their install prompts would block a headless run. No
# debugger either: a crashing program must end, not wait for winedbg.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
