; A20OFF: switches address line 20 off through the fast gate (port 92h, bit
; 1; bit 0 would reset the machine), as a program run before may leave it,
; then checks by the wrap-around: with A20 off, FFFF:0500 is 0000:04F0
; (linear 1004F0h folds to 4F0h, in the BIOS's inter-application area).
; Prints "A20 off" and exits with 0, or "A20 still on" and exits with 1.
        cpu 386
        org 100h
        in al, 92h
        and al, 0FCh
        out 92h, al
        cli
        xor ax, ax
        mov ds, ax
        mov ax, 0FFFFh
        mov es, ax
        mov bl, [4F0h]
        mov cx, 1               ; stays 1 unless both probes fold
        mov byte [4F0h], 0A5h
        cmp byte [es:500h], 0A5h
        jne probed
        mov byte [4F0h], 5Ah
        cmp byte [es:500h], 5Ah
        jne probed
        xor cx, cx
probed: mov [4F0h], bl
        sti
        push cs
        pop ds
        mov dx, off_text
        jcxz report
        mov dx, on_text
report: mov ah, 09h
        int 21h
        mov ax, 4C00h
        or al, cl
        int 21h

off_text: db "A20 off", 13, 10, "$"
on_text:  db "A20 still on", 13, 10, "$"
