; FSLIMIT: reads a dword at FS:10010h (FS = 0) with a 32-bit offset and
; without entering flat real mode first. A CPU that checks real-mode segment
; limits raises a general-protection fault (interrupt 0Dh in real mode),
; which this program catches: it prints "fault" and exits with 1. A CPU
; that does not check reads the memory: "read", exit 0. Interrupts stay off
; while the handler is in place, so IRQ 5 (also vector 0Dh) cannot arrive.
        cpu 386
        org 100h
        cli
        xor ax, ax
        mov es, ax
        mov fs, ax
        push word [es:0Dh * 4]
        push word [es:0Dh * 4 + 2]
        mov word [es:0Dh * 4], fault
        mov [es:0Dh * 4 + 2], cs
        mov eax, [fs:dword 10010h]
resume: pop word [es:0Dh * 4 + 2]
        pop word [es:0Dh * 4]
        sti
        mov dx, read_text
        cmp byte [faulted], 0
        je report
        mov dx, fault_text
report: mov ah, 09h
        int 21h
        mov ah, 4Ch
        mov al, [faulted]
        int 21h

; The CPU pushed FLAGS, CS and the faulting instruction's IP: go on after it.
fault:  mov byte [cs:faulted], 1
        push bp
        mov bp, sp
        mov word [bp + 2], resume
        pop bp
        iret

faulted:    db 0
read_text:  db "FS read above 64 KiB: read", 13, 10, "$"
fault_text: db "FS read above 64 KiB: fault", 13, 10, "$"
