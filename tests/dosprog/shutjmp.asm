; SHUTJMP: leaves the CMOS shutdown byte (0Fh) as a tool may leave it, 0Ah:
; "after the next reset, jump through 40:67 without a BIOS start-up". The
; far pointer at 40:67 is set to a routine copied to 7000:0000 that switches
; the emulated PC off at once (QEMU's port 0F4h with 42, Bochs's "Shutdown"
; at port 8900h) without going through the batch file. A restart that does
; not clear the byte therefore ends the machine there; one that clears it
; boots DOS again.
        org 100h
        cld
        mov ax, 7000h           ; the routine to 7000:0000
        mov es, ax
        xor di, di
        mov si, routine
        mov cx, routine_end - routine
        rep movsb
        xor ax, ax              ; 40:67 -> 7000:0000
        mov es, ax
        cli
        mov word [es:467h], 0
        mov word [es:469h], 7000h
        mov al, 8Fh             ; CMOS 0Fh = 0Ah, NMI off while the index is set
        out 70h, al
        mov al, 0Ah
        out 71h, al
        mov al, 0Dh             ; NMI on again (index 0Dh, read-only)
        out 70h, al
        sti
        mov ax, 4C00h
        int 21h

; Runs at 7000:0000 with nothing set up: addresses are from its own start.
routine:
        mov al, 42
        out 0F4h, al
        mov ax, 7000h
        mov ds, ax
        mov si, shutdown - routine
        mov dx, 8900h
        mov cx, shutdown_end - shutdown
.say:   lodsb
        out dx, al
        loop .say
        cli
.halt:  hlt
        jmp .halt
shutdown: db "Shutdown"
shutdown_end:
routine_end:
