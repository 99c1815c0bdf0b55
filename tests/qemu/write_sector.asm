; A boot sector for the write test: it writes three sectors through INT 13h AH=03 from a buffer
; that runs across a 64 KB boundary (1000:FE00), reads them back into another such buffer
; (3000:FE00) with AH=02, compares, and prints "WRITE OK." or "WRITE FAIL xx." (xx the status).
; The read takes 20 sectors, past the end of the track: more than the console serves at once.
; Byte j of sector k is (7 j + 85 k + 1) mod 256. The sectors are cylinder 40, head 0,
; sectors 16-18: logical sectors 1455-1457 of a 1.44 MB floppy. The BPB bytes are filled in
; from a formatted image by the test.
        bits 16
        cpu 386
        org 7C00h

        jmp short start
        nop
        times 3Eh - ($ - $$) db 0

start:
        cli
        xor ax, ax
        mov ss, ax
        mov sp, 7C00h
        mov ds, ax
        sti
        cld
        mov ax, 1FE0h                   ; linear 1FE00h, the same memory as 1000:FE00
        mov es, ax
        xor di, di
        xor dx, dx                      ; DL sector k, BL byte j
.sector:
        xor bx, bx
.byte:
        mov al, bl
        mov cl, 7
        mul cl                          ; AL = 7 j (mod 256)
        mov cl, al
        mov al, dl
        mov ch, 85
        mul ch
        add al, cl
        inc al
        stosb
        inc bx
        cmp bx, 512
        jb .byte
        inc dl
        cmp dl, 3
        jb .sector

        mov ax, 1000h
        mov es, ax
        mov bx, 0FE00h
        mov ax, 0303h
        mov cx, (40 << 8) | 16
        xor dx, dx
        int 13h
        jc fail

        mov ax, 3000h
        mov es, ax
        mov bx, 0FE00h
        mov ax, 0214h
        mov cx, (40 << 8) | 16
        xor dx, dx
        int 13h
        jc fail

        push ds
        mov ax, 1FE0h
        mov ds, ax
        mov ax, 3FE0h
        mov es, ax
        xor si, si
        xor di, di
        mov cx, 768
        repe cmpsw
        pop ds
        mov ah, 0
        jne fail
        mov si, msg_ok
        call print
        jmp halt
fail:
        mov dh, ah
        mov si, msg_fail
        call print
        mov al, dh                      ; the status, two hex digits
        shr al, 4
        call hex
        mov al, dh
        and al, 0Fh
        call hex
        mov si, msg_end
        call print
halt:
        sti
        hlt
        jmp halt

hex:
        push ax
        add al, '0'
        cmp al, '9'
        jbe .out
        add al, 7
.out:
        mov ah, 0Eh
        mov bx, 7
        int 10h
        pop ax
        ret

print:
        lodsb
        or al, al
        jz .end
        mov ah, 0Eh
        mov bx, 7
        int 10h
        jmp print
.end:
        ret

msg_ok   db 'WRITE OK.', 0
msg_fail db 'WRITE FAIL ', 0
msg_end  db '.', 0

        times 510 - ($ - $$) db 0
        dw 0AA55h
