# Stand-in UEFI ME information tool: reports the machine's current ME version.
echo "Stand-in ME information tool"
echo "FW Version:                             11.8.50.3400"
exit /b 0
