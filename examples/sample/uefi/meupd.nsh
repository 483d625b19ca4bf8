# Stand-in UEFI ME update tool: says which image it was given.
echo "Stand-in ME update tool: %1 %2"
exit /b 0
