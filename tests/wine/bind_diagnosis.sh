# Sourced by scripts/wine-tests (uses its BIN, WINEPREFIX, run_timeout and
# check): what hwtk3-diag.exe says after a failed bind, one run per case,
# each case arranged in a folder of its own and in the test's own prefix:
#   A. no WinRing0.dll anywhere, the two registry values not set, elevated;
#   B. the stand-in WinRing0.dll beside it, its InitializeOls failing
#      (scenario init-fails), no driver file, memory integrity and the block
#      list on, run not elevated (run_not_elevated.exe, the linked token);
#   C. WinRing0.dll and its driver file only in the system folder, both
#      values 0, elevated.
# The prefix's registry values and system-folder files are removed again.

bind_dir="$BIN/bind-check"
system32="$WINEPREFIX/drive_c/windows/system32"
hvci_key='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\DeviceGuard\Scenarios\HypervisorEnforcedCodeIntegrity'
blocklist_key='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\CI\Config'

# The two values as given ("-" removes one), in one reg.exe run.
set_switches() {  # $1 = Enabled, $2 = VulnerableDriverBlocklistEnable
  printf 'REGEDIT4\r\n\r\n[%s]\r\n"Enabled"=%s\r\n\r\n[%s]\r\n"VulnerableDriverBlocklistEnable"=%s\r\n' \
    "$hvci_key" "$1" "$blocklist_key" "$2" >"$bind_dir/switches.reg"
  # A failure shows in the findings checked after it.
  timeout "$run_timeout" wine reg import "Z:$(echo "$PWD/$bind_dir/switches.reg" | tr / '\\')" >/dev/null 2>&1 || true
}

# One run of the bind step; the readable report in bind.txt, the JSON in
# bind.json. $1 = scenario, rest = the command (from the case's folder).
run_bind() {
  local scenario="$1"; shift
  bind_rc=0
  (cd "$bind_dir" && HWTK3_SIM_SCENARIO="$scenario" timeout "$run_timeout" wine "$@" \
     --steps bind --json-file bind.json) >"$bind_dir/bind.log" 2>&1 || bind_rc=$?
  tr -d '\r' <"$bind_dir/bind.log" >"$bind_dir/bind.txt"
}

# The lines from the library's first one up to the summary, as they must
# come out.
lines_are() {
  diff <(sed -n '/^preparing to initialize WinRing0$/,/^>> 1 steps/{/^>> 1 steps/!p}' "$bind_dir/bind.txt") - >/dev/null
}
# The JSON report's findings, in order: $@ = id=state ...
findings_are() {
  test "$(grep -oE '\{"id":"[a-z0-9_]+","state":"[a-z ]+"' "$bind_dir/bind.json" |
          sed -E 's/\{"id":"([^"]*)","state":"([^"]*)"/\1=\2/')" = "$(printf '%s\n' "$@")"
}

if [ -e "$BIN/hwtk3-diag.exe" ] && [ -e "$BIN/run_not_elevated.exe" ]; then
  echo "== hwtk3-diag.exe after a failed bind"
  rm -rf "$bind_dir" && mkdir -p "$bind_dir"
  for file in hwtk3-diag.exe hwtk3.dll VQMITF.dll libstdc++-6.dll libgcc_s_dw2-1.dll; do cp "$BIN/$file" "$bind_dir/"; done
  folder="Z:$(cd "$bind_dir" && pwd | tr / '\\')"
  here="$folder (hwtk3.dll's folder and the program's folder)"
  system='C:\windows\system32 (the system folder)'
  rm -f "$system32/WinRing0.dll" "$system32/WinRing0.sys"

  set_switches - -
  run_bind default hwtk3-diag.exe
  check "A: exit status 1" test "$bind_rc" -eq 1
  check "A: the library's lines, then where it looked" lines_are <<EOF
preparing to initialize WinRing0
Failed to LoadLibrary, err code 126
Failed to init WinRing0!
$(grep -E '^>> \[FAIL\] bind port I/O ' "$bind_dir/bind.txt")
>>    - WinRing0.dll was not found where the library looks ($here, then $system): put the 32-bit WinRing0.dll beside hwtk3.dll, with its driver file.
>>    - The process is elevated.
>>    - Memory integrity (HVCI) is not set in the registry (no Enabled under HKLM\\SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\HypervisorEnforcedCodeIntegrity), so it is off unless a policy turns it on.
>>    - The vulnerable-driver block list is not set in the registry (no VulnerableDriverBlocklistEnable under HKLM\\SYSTEM\\CurrentControlSet\\Control\\CI\\Config); Windows 11 2022 and later keep it on by default, and memory integrity enforces it.
EOF
  check "A: the JSON report's findings" findings_are winring0_dll=missing elevated=yes "memory_integrity=not set" \
    "driver_block_list=not set"

  cp "$BIN/WinRing0.dll" "$bind_dir/"
  set_switches dword:00000001 dword:00000001
  run_bind init-fails "$(cd "$BIN" && pwd)/run_not_elevated.exe" hwtk3-diag.exe
  check "B: exit status 1" test "$bind_rc" -eq 1
  check "B: the library's lines, then the findings" lines_are <<EOF
preparing to initialize WinRing0
Failed to init WinRing0!
$(grep -E '^>> \[FAIL\] bind port I/O ' "$bind_dir/bind.txt")
>>    - WinRing0.dll was loaded from $folder\\WinRing0.dll.
>>    - The driver file WinRing0.sys is not beside it in $folder: copy it there with WinRing0.dll; if it was there, the antivirus may have quarantined it (restore it and exclude the folder).
>>    - The process is not elevated, and only an administrator can start the port-I/O driver: run the program as administrator.
>>    - Memory integrity (HVCI) is on (HKLM\\SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\HypervisorEnforcedCodeIntegrity, Enabled = 1), and Windows then refuses the port-I/O driver: turn it off under Windows Security > Device security > Core isolation, then restart.
>>    - The vulnerable-driver block list is on (HKLM\\SYSTEM\\CurrentControlSet\\Control\\CI\\Config, VulnerableDriverBlocklistEnable = 1), and it can refuse the port-I/O driver: turn off "Microsoft Vulnerable Driver Blocklist" under Windows Security > Device security > Core isolation, then restart.
EOF
  check "B: the JSON report's findings" findings_are winring0_dll=loaded driver_file=missing elevated=no \
    memory_integrity=on driver_block_list=on

  rm -f "$bind_dir/WinRing0.dll"
  cp "$BIN/WinRing0.dll" "$system32/" && : >"$system32/WinRing0.sys"
  set_switches dword:00000000 dword:00000000
  run_bind init-fails hwtk3-diag.exe
  check "C: the library's lines, then the findings" lines_are <<EOF
preparing to initialize WinRing0
Failed to init WinRing0!
$(grep -E '^>> \[FAIL\] bind port I/O ' "$bind_dir/bind.txt")
>>    - WinRing0.dll was loaded from C:\\windows\\system32\\WinRing0.dll.
>>    - The driver file WinRing0.sys is beside it.
>>    - The process is elevated.
>>    - Memory integrity (HVCI) is off (HKLM\\SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\HypervisorEnforcedCodeIntegrity, Enabled = 0).
>>    - The vulnerable-driver block list is off (HKLM\\SYSTEM\\CurrentControlSet\\Control\\CI\\Config, VulnerableDriverBlocklistEnable = 0).
EOF
  check "C: the JSON report's findings" findings_are winring0_dll=loaded driver_file=present elevated=yes \
    memory_integrity=off driver_block_list=off
  check "none of it is in hwtk3.dll" bash -c "! grep -qaE 'vulnerable-driver|Memory integrity|is not elevated' '$BIN/hwtk3.dll'"

  if [ "$status" -ne 0 ]; then sed 's/^/   | /' "$bind_dir/bind.txt"; fi
  rm -f "$system32/WinRing0.dll" "$system32/WinRing0.sys"
  set_switches - -
  rm -rf "$bind_dir"
fi
