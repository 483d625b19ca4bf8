; ENDPC n: ends an emulated PC once a test's steps have run. The number on
; the command line (the errorlevel a batch ladder found) goes to A:\EXIT.TXT,
; DOS's buffers are flushed so that everything written reaches the disks,
; then the machine is switched off: QEMU's isa-debug-exit device at port
; 0F4h ends QEMU with status n * 2 + 1, and the string "Shutdown" at port
; 8900h ends Bochs. With neither, the machine halts for the harness's bound.
        org 100h
        cld
        mov si, 81h
        xor bx, bx
skip:   lodsb
        cmp al, ' '
        je skip
digit:  sub al, '0'
        cmp al, 9
        ja parsed
        imul bx, bx, 10
        xor ah, ah
        add bx, ax
        lodsb
        jmp digit
parsed: mov ah, 3Ch             ; create A:\EXIT.TXT
        xor cx, cx
        mov dx, name
        int 21h
        jc flush
        xchg bx, ax             ; bx = handle, ax = the number
        push ax
        mov ah, 40h             ; write the command tail as it stands
        xor ch, ch
        mov cl, [80h]
        mov dx, 81h
        int 21h
        mov ah, 3Eh
        int 21h
        pop bx
flush:  mov ah, 0Dh
        int 21h
        mov al, bl
        out 0F4h, al
        mov dx, 8900h
        mov si, shutdown
        mov cx, shutdown_end - shutdown
say:    lodsb
        out dx, al
        loop say
        cli
halt:   hlt
        jmp halt
name:     db "A:\EXIT.TXT", 0
shutdown: db "Shutdown"
shutdown_end:
