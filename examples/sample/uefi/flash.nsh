# Stand-in UEFI flash program: says what it was asked to flash.
echo "Stand-in UEFI flash program: %1 %2 %3 %4"
exit /b 0
