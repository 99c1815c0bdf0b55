; Quorvik target ROM: an x86 option ROM that turns a PC (QEMU with SeaBIOS) into a target of
; the console. Its screen, keyboard and floppy drive 0 go over COM1 (3F8h, 115200 8N1; read by
; polling, IRQ 4 only wakes the waits and takes keys between BIOS calls):
;
;   INT 10h  chained to the video BIOS; afterwards the text screen (B800h) is compared with a
;            shadow of what the console shows, and only the changed cells go out, placed with
;            ESC [ row ; col H and coloured with ESC [ ... m. Cursor and attribute are cached.
;   INT 16h  AH 00/01/02/10/11/12 from the bytes the console sends: plain characters, ESC
;            strings of the cursor and function keys (a lone ESC after about 110 ms), the
;            refresh request 12h (the whole screen again) and the reboot code 1B 7F.
;   INT 13h  drive 0: AH 00, 02, 03 as request frames (ESC 'D'), with the console's keyboard
;            held (ESC 'S' ... ESC 'Q') around each request, and a call that runs past the
;            end of a track split into one request per track; AH 08, 15, 16 answered here;
;            AH 41 (and anything else) unsupported. Other drives go to the old handler.
;   INT 19h  takes 16 KB below 640 KB (40:13), copies this ROM there and runs from the copy
;            (the ROM itself is read-only by then), waits for the console, reads the boot
;            sector through it and jumps to 0:7C00.
;
; Frames on the line (all 16-bit fields little-endian; the checksum makes the 8-bit sum of all
; bytes after ESC 'D' zero):
;   request  1B 44 | sum | 11  | AX BX CX DX         target -> console, answered 55 / AA
;   reply    1B 44 | sum | 13  | AX BX CX DX FLAGS   console -> target, answered 55 / AA
;   data     1B 44 | sum | 515 | 512 bytes           both ways, answered 55 / AA
; The console never repeats a frame: after any fault the ROM waits for the line to fall quiet
; and sends the whole request again, up to MAX_TRIES times, each wait for a byte bounded.
;
; This file shares no code with the console: it is a second, independent reading of the line.

        bits 16
        cpu 386
        org 0

ROM_BLOCKS      equ 8                   ; 4 KB of ROM
MEM_KB          equ 16                  ; working memory taken below 640 KB

COM1            equ 3F8h
LSR             equ COM1 + 5

ESC             equ 1Bh
ACK             equ 55h
NAK             equ 0AAh

TICKS           equ 46Ch                ; BIOS tick counter, 18.2 Hz (in segment 0)
ANSWER_TICKS    equ 55                  ; 3 s: longest wait for a byte the console owes
QUIET_TICKS     equ 6                   ; 330 ms of silence ends the drain after a fault
DRAIN_TICKS     equ 91                  ; a drain never lasts longer than 5 s
PROBE_TICKS     equ 6                   ; wait for the answer to a status query at boot
LONE_ESC_TICKS  equ 2                   ; an ESC with nothing after it for 55-110 ms is Esc
MAX_TRIES       equ 8                   ; attempts of one request
ST_TIMEOUT      equ 80h                 ; INT 13h status: drive not ready / time-out

; ---- working memory, at offset DATA of the RAM copy (offsets past the ROM image) ----
DATA            equ ROM_BLOCKS * 512
        struc vars
v_old10         resd 1
v_old13         resd 1
v_old16         resd 1
v_con_row       resb 1                  ; where the console's cursor is
v_con_col       resb 1
v_con_attr      resb 1                  ; the console's current attribute
v_esc_state     resb 1                  ; 0 plain, 1 after ESC, 2 after ESC [
v_esc_tick      resw 1
v_refresh       resb 1                  ; the console asked for the whole screen
v_key_head      resb 1
v_key_tail      resb 1
v_last_status   resb 1
v_spt           resb 1                  ; geometry from the boot sector's BPB
v_heads         resb 1
v_cyls          resw 1
v_sync_tick     resw 1
v_t_ax          resw 1                  ; the INT 10h call being tracked
v_t_cx          resw 1
v_t_dx          resw 1
v_r_ax          resw 1                  ; the disk request: AX BX CX DX
v_r_bx          resw 1
v_r_cx          resw 1
v_r_dx          resw 1
v_buf           resd 1                  ; linear address of the caller's buffer
v_sector        resb 1                  ; sector of the request being moved
v_left          resb 1                  ; sectors of the call still to move
v_done          resb 1                  ; sectors of the call moved
v_wait_start    resw 1
v_quiet         resb 1                  ; 1 once the status query said "no image"
v_busy          resb 1                  ; in INT 13h, 16h or 19h: they read the line themselves
v_keys          resw 16                 ; ring of key words (scan << 8 | ASCII)
v_reply         resb 16                 ; a received reply frame, from 1B 44 on
v_frame         resb 520                ; a data frame, from 1B 44 on
v_shadow        resw 2000               ; what the console shows: character, attribute
        endstruc
%define V(x) (DATA + x)

; ---- header ----
        db 55h, 0AAh, ROM_BLOCKS
        jmp init
        times 18h - ($ - $$) db 0
        dw 0                            ; no PCI data structure
        db 'Quorvik target ROM', 0

; Called far by the BIOS during its start-up: only INT 19h is taken here, the rest when the
; BIOS boots (it sets up its own INT 13h and video after the option ROMs have run).
init:
        push ds
        push ax
        xor ax, ax
        mov ds, ax
        mov word [19h * 4], int19
        mov [19h * 4 + 2], cs
        pop ax
        pop ds
        retf

; ======================================================================================
; INT 19h: boot through the console
; ======================================================================================
int19:
        cli
        cld
        xor ax, ax
        mov ds, ax
        mov ax, [413h]
        sub ax, MEM_KB
        mov [413h], ax
        shl ax, 6
        mov es, ax
        push cs
        pop ds
        xor si, si
        xor di, di
        mov cx, ROM_BLOCKS * 256
        rep movsw
        mov cx, (vars_size + 1) / 2     ; DI = DATA: clear the working memory
        xor ax, ax
        rep stosw
        push es
        push word .in_ram
        retf
.in_ram:
        push cs
        pop ds
        xor ax, ax
        mov es, ax
        mov eax, [es:10h * 4]
        mov [V(v_old10)], eax
        mov eax, [es:13h * 4]
        mov [V(v_old13)], eax
        mov eax, [es:16h * 4]
        mov [V(v_old16)], eax
        mov word [es:10h * 4], int10
        mov [es:10h * 4 + 2], cs
        mov word [es:13h * 4], int13
        mov [es:13h * 4 + 2], cs
        mov word [es:16h * 4], int16
        mov [es:16h * 4 + 2], cs
        mov word [es:0Ch * 4], irq4
        mov [es:0Ch * 4 + 2], cs
        mov byte [V(v_busy)], 1
        mov byte [V(v_spt)], 18         ; until the boot sector says otherwise
        mov byte [V(v_heads)], 2
        mov word [V(v_cyls)], 80
        call uart_init
        sti
        call wait_console
        call full_refresh

        mov di, 3                       ; the boot sector, three tries
.read:
        xor ax, ax
        mov es, ax
        mov bx, 7C00h
        mov ax, 0201h
        mov cx, 1
        xor dx, dx
        int 13h
        jnc .got
        xor ax, ax
        int 13h
        dec di
        jnz .read
        mov si, msg_read_failed
        jmp .fail
.got:
        cmp word [es:7DFEh], 0AA55h
        je .bootable
        mov si, msg_not_bootable
.fail:
        call print
.halt:
        sti
        hlt
        mov ah, 1
        int 16h                         ; keeps the screen and the reboot code served
        jmp .halt
.bootable:
        mov ax, [es:7C18h]              ; sectors per track, heads, total sectors
        mov bx, [es:7C1Ah]
        or ah, bh
        jnz .boot                       ; not a floppy BPB: keep 1.44 MB
        or al, al
        jz .boot
        or bl, bl
        jz .boot
        mov [V(v_spt)], al
        mov [V(v_heads)], bl
        mul bl
        mov cx, ax
        mov ax, [es:7C13h]
        xor dx, dx
        div cx
        mov [V(v_cyls)], ax
.boot:
        mov byte [V(v_busy)], 0         ; from now on IRQ 4 takes the keys between BIOS calls
        xor ax, ax
        mov ds, ax
        mov es, ax
        xor dx, dx                      ; DL: the drive booted from
        jmp 0:7C00h

; Waits (without a limit: the user connects when he likes) until the console answers the
; status query with "image attached". Without an image, says so on the screen and asks again.
wait_console:
.probe:
        mov cx, PROBE_TICKS
        call query_status
        jc .probe
        cmp al, ACK
        je .ready
        cmp byte [V(v_quiet)], 0
        jne .pause
        mov byte [V(v_quiet)], 1
        mov al, ESC                     ; let the keys through while the user reads this
        call ser_put
        mov al, 'Q'
        call ser_put
        call full_refresh
        mov si, msg_no_image
        call print
.pause:
        mov cx, 18
        call delay
        jmp .probe
.ready:
        mov cx, 2                       ; answers to earlier probes
        call drain_for
        call release_keys
        ret

; ======================================================================================
; INT 10h: the video BIOS does the work; then the changes go to the console
; ======================================================================================
int10:
        cmp ah, 0Eh
        je .track
        cmp ah, 09h
        je .track
        cmp ah, 0Ah
        je .track
        cmp ah, 02h
        je .track
        cmp ah, 06h
        je .track
        cmp ah, 07h
        je .track
        cmp ah, 13h
        je .track
        cmp ah, 00h
        je .track
        jmp far [cs:V(v_old10)]
.track:
        mov [cs:V(v_t_ax)], ax
        mov [cs:V(v_t_cx)], cx
        mov [cs:V(v_t_dx)], dx
        pushf
        call far [cs:V(v_old10)]
        push ds
        push es
        pusha
        push cs
        pop ds
        cld
        call cleared_whole_screen
        jnc .sync
        call console_clear
.sync:
        call screen_sync
        popa
        pop es
        pop ds
        iret

; CF set when the tracked call blanked the whole screen: a mode set, or a scroll of the full
; 80 x 25 window by 0 lines.
cleared_whole_screen:
        mov ax, [V(v_t_ax)]
        or ah, ah
        jz .yes
        cmp ah, 08h
        jae .no                         ; 09h, 0Ah, 0Eh, 13h
        cmp ah, 06h
        jb .no                          ; 02h
        or al, al
        jnz .no
        cmp word [V(v_t_cx)], 0
        jne .no
        mov dx, [V(v_t_dx)]
        cmp dh, 24
        jb .no
        cmp dl, 79
        jb .no
.yes:
        stc
        ret
.no:
        clc
        ret

; The console's screen is cleared (ESC [ 2 J: blanks in 0Fh, cursor home); the shadow says so.
console_clear:
        mov si, str_clear
        call ser_str
        mov di, V(v_shadow)
        push ds
        pop es
        mov ax, 0F20h
        mov cx, 2000
        rep stosw
        mov byte [V(v_con_row)], 0
        mov byte [V(v_con_col)], 0
        mov byte [V(v_con_attr)], 0Fh
        ret

full_refresh:
        push es
        pusha
        call console_clear
        call screen_sync
        popa
        pop es
        ret

; Sends every cell of the text screen that differs from the shadow, then moves the console's
; cursor to the BIOS cursor. Blank cells (space or 0) on the same background count as equal,
; so a clear to black costs nothing after ESC [ 2 J. Modes other than 80 x 25 text are left
; alone. DS = our segment; destroys AX BX CX DX SI DI ES.
screen_sync:
        push ds
        xor ax, ax
        mov es, ax
        mov al, [es:449h]
        cmp al, 7
        je .text
        cmp al, 3
        ja .out
.text:
        cmp word [es:44Ah], 80
        jne .out
        mov bl, [es:484h]
        or bl, bl
        jz .rows_ok
        cmp bl, 24
        jne .out
.rows_ok:
        mov si, [es:44Eh]               ; the visible page
        mov bx, 0B800h
        cmp al, 7
        jne .seg
        mov bx, 0B000h
.seg:
        mov dx, [es:450h]               ; page 0's cursor: DL column, DH row
        push dx
        push ds
        pop es                          ; ES:DI the shadow
        mov ds, bx                      ; DS:SI the screen
        mov di, V(v_shadow)
        mov cx, 2000
.scan:
        repe cmpsw
        je .cursor
        mov ax, [si - 2]
        mov bx, [es:di - 2]
        cmp al, 20h                     ; blank against blank on the same background?
        je .blank1
        or al, al
        jnz .differ
.blank1:
        cmp bl, 20h
        je .blank2
        or bl, bl
        jnz .differ
.blank2:
        mov bl, ah
        xor bl, bh
        test bl, 0F0h
        jz .next
.differ:
        mov [es:di - 2], ax
        push cx
        push si
        push di
        push ds
        push es
        pop ds
        mov bx, di
        sub bx, V(v_shadow) + 2
        shr bx, 1
        call send_cell
        pop ds
        pop di
        pop si
        pop cx
.next:
        or cx, cx
        jnz .scan
.cursor:
        pop dx
        pop ds
        cmp dh, 25
        jae .done
        cmp dl, 80
        jae .done
        cmp dh, [V(v_con_row)]
        jne .move
        cmp dl, [V(v_con_col)]
        je .done
.move:
        call send_cursor
.done:
        ret
.out:
        pop ds
        ret

; Cell number BX gets AX (AL character, AH attribute) on the console. Control codes that the
; line cannot carry as text (00, 0A, 0D, 1B) go out as look-alike glyphs.
send_cell:
        push ax
        mov ax, bx
        mov bl, 80
        div bl                          ; AL row, AH column
        mov dh, al
        mov dl, ah
        cmp dh, [V(v_con_row)]
        jne .place
        cmp dl, [V(v_con_col)]
        je .placed
.place:
        call send_cursor
.placed:
        pop ax
        cmp ah, [V(v_con_attr)]
        je .attr_ok
        push ax
        mov al, ah
        call send_attr
        pop ax
.attr_ok:
        or al, al
        jnz .c1
        mov al, 20h
.c1:
        cmp al, 0Ah
        jne .c2
        mov al, 09h
.c2:
        cmp al, 0Dh
        jne .c3
        mov al, 0Eh
.c3:
        cmp al, ESC
        jne .c4
        mov al, 11h
.c4:
        call ser_put
        inc byte [V(v_con_col)]         ; the console's cursor: wraps, stays on the last row
        cmp byte [V(v_con_col)], 80
        jb .ret
        mov byte [V(v_con_col)], 0
        cmp byte [V(v_con_row)], 24
        jae .ret
        inc byte [V(v_con_row)]
.ret:
        ret

; ESC [ row+1 ; col+1 H for DH row, DL column.
send_cursor:
        mov [V(v_con_row)], dh
        mov [V(v_con_col)], dl
        mov al, ESC
        call ser_put
        mov al, '['
        call ser_put
        mov al, dh
        inc al
        call ser_dec
        mov al, ';'
        call ser_put
        mov al, dl
        inc al
        call ser_dec
        mov al, 'H'
        jmp ser_put

; Makes the console's attribute AL. The console knows 0 (clears the bright foreground and bit
; 7), 1 (bright), 30+n and 40+n (the low three bits of each colour) and 7 (swaps the colours).
; Bit 7 can only be reached through 7, so a bright background is built swapped first:
;   ESC [ 0 [;1] ; 3f ; 4b m                      for attributes below 80h
;   ESC [ 0 [;1] ; 3b' ; 4f' ; 7 [;1] m           for 80h and above (swapped, then 7)
send_attr:
        mov [V(v_con_attr)], al
        mov bl, al                      ; BL the attribute wanted
        mov bh, al
        test bl, 80h
        jz .plain
        rol bh, 4                       ; built swapped: its bright bit is the background's
.plain:
        mov al, ESC
        call ser_put
        mov al, '['
        call ser_put
        mov al, '0'
        call ser_put
        test bh, 08h
        jz .fg
        mov si, str_bright
        call ser_str
.fg:
        mov si, str_fg
        call ser_str
        mov al, bh
        and al, 7
        call ansi_colour
        mov si, str_bg
        call ser_str
        mov al, bh
        shr al, 4
        and al, 7
        call ansi_colour
        test bl, 80h
        jz .end
        mov si, str_swap
        call ser_str
        test bl, 08h
        jz .end
        mov si, str_bright
        call ser_str
.end:
        mov al, 'm'
        jmp ser_put

; The digit of the ANSI colour number of colour index AL (0-7): the map swaps 1/4 and 3/6.
ansi_colour:
        push bx
        movzx bx, al
        mov al, [ansi_digits + bx]
        pop bx
        jmp ser_put

; AL (1-99) in decimal.
ser_dec:
        aam                             ; AH tens, AL units
        or ah, ah
        jz .units
        push ax
        mov al, ah
        add al, '0'
        call ser_put
        pop ax
.units:
        add al, '0'
        jmp ser_put

; Writes the zero-terminated text at DS:SI through INT 10h teletype: it reaches the console
; the same way as any program's text.
print:
        lodsb
        or al, al
        jz .end
        mov ah, 0Eh
        mov bx, 0007h
        int 10h
        jmp print
.end:
        ret

; ======================================================================================
; Serial line
; ======================================================================================
uart_init:
        mov dx, COM1 + 1
        xor al, al
        out dx, al                      ; no interrupts while the UART is set up
        mov dx, COM1 + 3
        mov al, 80h
        out dx, al
        mov dx, COM1
        mov al, 1                       ; divisor 1: 115200 baud
        out dx, al
        inc dx
        xor al, al
        out dx, al
        mov dx, COM1 + 3
        mov al, 03h                     ; 8N1
        out dx, al
        mov dx, COM1 + 2
        mov al, 0C7h                    ; FIFOs on and emptied, interrupt at 14 bytes:
                                        ; QEMU moves from the pty at most as many bytes at
                                        ; once as the trigger level allows (1 byte: 3x slower)
        out dx, al
        mov dx, COM1 + 4
        mov al, 0Bh                     ; DTR, RTS, OUT2 (the interrupt line)
        out dx, al
        mov dx, COM1 + 1
        mov al, 01h                     ; an interrupt when a byte arrives: it only ends a HLT
        out dx, al
        in al, 21h
        and al, ~10h                    ; IRQ 4 unmasked
        out 21h, al
        ret

; IRQ 4 (COM1). Inside INT 13h, 16h and 19h the bytes stay in the UART for the code that waits
; for them, and the interrupt only wakes its HLT (so that a wait neither spins, which starves
; QEMU's own serial thread, nor sleeps until the next timer tick). Between BIOS calls the bytes
; go to the key decoder here, so that the reboot code works while a program never asks for a
; key; a refresh request waits for the next INT 16h.
irq4:
        push ds
        push ax
        push bx
        push cx
        push si
        push cs
        pop ds
        cmp byte [V(v_busy)], 0
        jne .eoi
.more:
        call ser_get
        jc .eoi
        call key_byte
        jmp .more
.eoi:
        mov al, 20h
        out 20h, al
        pop si
        pop cx
        pop bx
        pop ax
        pop ds
        iret

; Sends AL. Gives up on a transmitter that never empties rather than hang.
ser_put:
        push cx
        push dx
        push ax
        mov dx, LSR
        mov cx, 0FFFFh
.wait:
        in al, dx
        test al, 20h
        jnz .send
        loop .wait
.send:
        pop ax
        mov dx, COM1
        out dx, al
        pop dx
        pop cx
        ret

; The zero-terminated bytes at DS:SI.
ser_str:
        lodsb
        or al, al
        jz .end
        call ser_put
        jmp ser_str
.end:
        ret

; AL the next received byte, CF clear; CF set when none is waiting.
ser_get:
        push dx
        mov dx, LSR
        in al, dx
        test al, 1
        jz .none
        mov dx, COM1
        in al, dx
        pop dx
        clc
        ret
.none:
        pop dx
        stc
        ret

; CF clear when a byte waits in the UART.
ser_waiting:
        push ax
        push dx
        mov dx, LSR
        in al, dx
        pop dx
        shr al, 1
        cmc
        pop ax
        ret

; AX the BIOS tick counter (low word).
now:
        push ds
        xor ax, ax
        mov ds, ax
        mov ax, [TICKS]
        pop ds
        ret

; Waits up to ANSWER_TICKS for a byte: AL, CF clear; CF set on time-out.
wait_byte:
        mov cx, ANSWER_TICKS
; The same with CX ticks.
wait_byte_for:
        call ser_get
        jnc .got
        push bx
        call now
        mov bx, ax
.loop:
        cli                             ; a byte arriving now ends the HLT below
        call ser_get
        jnc .got_bx
        sti
        hlt
        call now
        sub ax, bx
        cmp ax, cx
        jb .loop
        pop bx
        stc
        ret
.got_bx:
        pop bx
.got:
        sti
        clc
        ret

; Discards what comes until the line has been quiet for QUIET_TICKS (at most DRAIN_TICKS).
drain:
        mov cx, QUIET_TICKS
; The same with CX ticks of quiet.
drain_for:
        call now
        mov [V(v_wait_start)], ax
.more:
        push cx
        call wait_byte_for
        pop cx
        jc .quiet
        call now
        sub ax, [V(v_wait_start)]
        cmp ax, DRAIN_TICKS
        jb .more
.quiet:
        ret

; Waits CX ticks, serving key bytes meanwhile.
delay:
        call now
        mov bx, ax
.loop:
        push bx
        push cx
        call poll_keys
        pop cx
        pop bx
        sti
        hlt
        call now
        sub ax, bx
        cmp ax, cx
        jb .loop
        ret

; ESC 'S': the console answers 55 with an image attached, AA without, and holds its keys back
; until ESC 'Q'. Bytes before the answer are keys typed before the query arrived. Waits CX
; ticks; CF set when no answer came.
query_status:
        mov al, ESC
        call ser_put
        mov al, 'S'
        call ser_put
.next:
        push cx
        call wait_byte_for
        pop cx
        jc .none
        cmp al, ACK
        je .answer
        cmp al, NAK
        je .answer
        call key_byte
        jmp .next
.answer:
        clc
.none:
        ret

release_keys:
        mov al, ESC
        call ser_put
        mov al, 'Q'
        jmp ser_put

; ======================================================================================
; Keyboard: bytes from the console become BIOS key words
; ======================================================================================

; Takes every waiting byte into the key decoder; ends a lone ESC that has waited too long.
poll_keys:
.more:
        call ser_get
        jc .idle
        call key_byte
        jmp .more
.idle:
        cmp byte [V(v_esc_state)], 0
        je .end
        call now
        sub ax, [V(v_esc_tick)]
        cmp ax, LONE_ESC_TICKS
        jb .end
        call flush_escape
.end:
        ret

; A sequence cut short: what was taken of it becomes keys of its own.
flush_escape:
        mov ax, 011Bh                   ; Esc
        call push_key
        cmp byte [V(v_esc_state)], 2
        jne .done
        mov ax, 1A5Bh                   ; '['
        call push_key
.done:
        mov byte [V(v_esc_state)], 0
        ret

; One byte from the console (AL).
key_byte:
        cmp byte [V(v_esc_state)], 1
        je .after_esc
        ja .after_csi
        cmp al, ESC
        jne .not_esc
        mov byte [V(v_esc_state)], 1
        push ax
        call now
        mov [V(v_esc_tick)], ax
        pop ax
        ret
.not_esc:
        cmp al, 12h                     ; the console's refresh request
        jne .char
        mov byte [V(v_refresh)], 1
        ret
.char:
        movzx bx, al
        and bl, 7Fh
        mov ah, [ascii_scan + bx]
        test al, 80h
        jz push_key
        xor ah, ah
        jmp push_key

.after_esc:
        cmp al, '['
        jne .esc_other
        mov byte [V(v_esc_state)], 2
        ret
.esc_other:
        cmp al, 7Fh
        je reboot
        cmp al, ESC                     ; ESC ESC: the first was the Esc key
        jne .esc_table
        push ax
        mov ax, 011Bh
        call push_key
        call now
        mov [V(v_esc_tick)], ax
        pop ax
        ret
.esc_table:
        mov si, esc_keys
        jmp .lookup
.after_csi:
        mov si, csi_keys
.lookup:
        mov ah, [si]
        or ah, ah
        jz .unknown
        cmp al, [si + 1]
        je .found
        add si, 2
        jmp .lookup
.found:
        mov byte [V(v_esc_state)], 0
        xor al, al
        jmp push_key
.unknown:
        push ax
        call flush_escape
        pop ax
        jmp key_byte

; Puts the key word AX into the ring; a full ring drops it, as a BIOS does.
push_key:
        movzx bx, byte [V(v_key_tail)]
        mov cl, bl
        inc cl
        and cl, 15
        cmp cl, [V(v_key_head)]
        je .full
        shl bx, 1
        mov [V(v_keys) + bx], ax
        mov [V(v_key_tail)], cl
.full:
        ret

; The reboot code: a reset through the keyboard controller, then through port CF9h.
reboot:
        cli
        mov al, 0FEh
        out 64h, al
        mov dx, 0CF9h
        mov al, 06h
        out dx, al
        hlt
        jmp reboot

; Takes keys, answers a refresh request, and now and then (once a tick) sends what programs
; wrote straight into video memory.
serve_console:
        call poll_keys
        cmp byte [V(v_refresh)], 0
        je .no_refresh
        mov byte [V(v_refresh)], 0
        call full_refresh
        ret
.no_refresh:
        call now
        cmp ax, [V(v_sync_tick)]
        je .end
        mov [V(v_sync_tick)], ax
        push es
        pusha
        call screen_sync
        popa
        pop es
.end:
        ret

; ======================================================================================
; INT 16h
; ======================================================================================
int16:
        cmp ah, 00h
        je .ours
        cmp ah, 01h
        je .ours
        cmp ah, 02h
        je .ours
        cmp ah, 10h
        je .ours
        cmp ah, 11h
        je .ours
        cmp ah, 12h
        je .ours
        jmp far [cs:V(v_old16)]
.ours:
        sti
        push bp
        mov bp, sp                      ; [bp+6] the caller's flags
        push ds
        push bx
        push cx
        push dx
        push si
        push di
        push cs
        pop ds
        inc byte [V(v_busy)]
        cld
        mov bl, ah
        and bl, 0Fh
        cmp bl, 2
        jne .not_shift
        xor al, al                      ; the console keeps the shift state to itself
        xor ah, ah
        jmp .out
.not_shift:
        push ax
        call serve_console
        pop ax
        mov bl, ah
        and bl, 0Fh
        jz .get
        ; peek: ZF set when no key waits
        mov bl, [V(v_key_head)]
        cmp bl, [V(v_key_tail)]
        je .empty
        movzx bx, bl
        shl bx, 1
        mov ax, [V(v_keys) + bx]
        and word [bp + 6], ~40h
        jmp .out
.empty:
        or word [bp + 6], 40h
        jmp .out
.get:
        mov bl, [V(v_key_head)]
        cmp bl, [V(v_key_tail)]
        jne .take
        push ax
        cli                             ; a byte arriving now ends the HLT below
        call ser_waiting
        jnc .serve
        sti
        hlt                             ; a byte from the console, or the next tick
.serve:
        sti
        call serve_console
        pop ax
        jmp .get
.take:
        movzx bx, bl
        shl bx, 1
        mov ax, [V(v_keys) + bx]
        shr bx, 1
        inc bl
        and bl, 15
        mov [V(v_key_head)], bl
.out:
        dec byte [V(v_busy)]
        pop di
        pop si
        pop dx
        pop cx
        pop bx
        pop ds
        pop bp
        iret

; ======================================================================================
; INT 13h
; ======================================================================================
int13:
        or dl, dl
        jz .ours
        jmp far [cs:V(v_old13)]
.ours:
        sti
        cld
        push bp
        mov bp, sp                      ; [bp+6] the caller's flags
        push ds
        push cs
        pop ds
        inc byte [V(v_busy)]
        cmp ah, 02h
        je .transfer
        cmp ah, 03h
        je .transfer
        or ah, ah
        je .transfer
        cmp ah, 01h
        je .status
        cmp ah, 08h
        je .params
        cmp ah, 15h
        je .type
        cmp ah, 16h
        je .changed
        mov ah, 01h                     ; 41h (extensions) and the rest: invalid function
        jmp .error

.status:
        mov ah, [V(v_last_status)]
        or ah, ah
        jnz .error_kept
        jmp .ok_kept
.params:
        mov bl, 4                       ; drive type by sectors per track
        mov cl, [V(v_spt)]
        cmp cl, 15
        jne .t18
        mov bl, 2
.t18:
        cmp cl, 9
        jne .t36
        mov bl, 3
        cmp word [V(v_cyls)], 40
        ja .t36
        mov bl, 1
.t36:
        cmp cl, 36
        jne .tdone
        mov bl, 5
.tdone:
        xor bh, bh
        mov ax, [V(v_cyls)]
        dec ax
        mov ch, al                      ; last cylinder, bits 8-9 in CL 6-7
        shl ah, 6
        or cl, ah
        mov dh, [V(v_heads)]
        dec dh
        mov dl, 1                       ; one drive
        push cs
        pop es
        mov di, floppy_params
        xor ax, ax
        jmp .ok
.type:
        mov ah, 01h                     ; a floppy drive without change detection
        jmp .ok_kept
.changed:
        mov ah, 06h                     ; no change line: "may have changed"
        jmp .error

.transfer:
        push es
        pushad
        mov [V(v_r_ax)], ax
        mov [V(v_r_bx)], bx
        mov [V(v_r_cx)], cx
        mov [V(v_r_dx)], dx
        movzx eax, word [bp - 4]        ; the caller's ES
        shl eax, 4
        movzx ebx, bx
        add eax, ebx
        mov [V(v_buf)], eax
        call disk_transfer              ; AH status, AL sectors moved, CF
        mov [bp - 8], ax                ; into the saved EAX (pushad: EAX at bp-8)
        popad
        pop es
        jc .error_kept
        mov ah, 0
        jmp .ok
.error_kept:
.error:
        mov [V(v_last_status)], ah
        or word [bp + 6], 1
        dec byte [V(v_busy)]
        pop ds
        pop bp
        iret
.ok_kept:
.ok:
        mov [V(v_last_status)], ah
        and word [bp + 6], ~1
        dec byte [V(v_busy)]
        pop ds
        pop bp
        iret

; The call in v_r_*, one request per track: the console refuses more sectors than a track
; holds. AL the sectors moved, AH the status, CF set for an error.
disk_transfer:
        mov byte [V(v_done)], 0
        mov al, [V(v_r_ax)]
        mov [V(v_left)], al
        cmp byte [V(v_r_ax) + 1], 0
        je .whole                       ; a reset
        or al, al
        jz .whole
.piece:
        mov al, [V(v_spt)]              ; the sectors from CL to the end of the track
        mov ah, [V(v_r_cx)]
        and ah, 3Fh
        sub al, ah
        inc al
        jle .rest                       ; CL past the track: the console will say so
        cmp al, [V(v_left)]
        jbe .count
.rest:
        mov al, [V(v_left)]
.count:
        mov [V(v_r_ax)], al
        call disk_request
        jc .failed
        mov al, [V(v_r_ax)]
        add [V(v_done)], al
        sub [V(v_left)], al
        jz .moved
        movzx eax, al
        shl eax, 9
        add [V(v_buf)], eax
        and byte [V(v_r_cx)], 0C0h      ; sector 1 of the next track
        or byte [V(v_r_cx)], 1
        inc byte [V(v_r_dx) + 1]
        mov al, [V(v_r_dx) + 1]
        cmp al, [V(v_heads)]
        jb .piece
        mov byte [V(v_r_dx) + 1], 0
        inc byte [V(v_r_cx) + 1]
        jmp .piece
.moved:
        mov al, [V(v_done)]
        xor ah, ah
        clc
        ret
.failed:
        mov al, [V(v_done)]
        ret
.whole:
        call disk_request
        mov al, [V(v_r_ax)]
        ret

; The request in v_r_*, with the console's keys held: AH status, CF set for an error.
disk_request:
        mov cx, ANSWER_TICKS
        call query_status
        jc .silent
        cmp al, ACK
        je .go
        mov ah, ST_TIMEOUT              ; no image: like a drive without a disk
        jmp .fail
.silent:
        mov ah, ST_TIMEOUT
        stc
        ret
.go:
        mov di, MAX_TRIES
.try:
        push di
        call disk_attempt               ; CF and AH; ZF set when a retry may help
        pop di
        jnc .done
        jnz .fail
        push ax
        call drain
        pop ax
        dec di
        jnz .try
.fail:
        push ax
        call release_keys
        pop ax
        stc
        ret
.done:
        push ax
        call release_keys
        pop ax
        clc
        ret

; One attempt. Success: CF clear, AH 0. A fault on the line: CF set, ZF set, AH 80h. The
; console reported an error: CF set, ZF clear, AH its status.
disk_attempt:
        ; request frame
        mov si, V(v_frame)
        mov byte [si], ESC
        mov byte [si + 1], 'D'
        mov byte [si + 2], 0
        mov word [si + 3], 11
        mov ax, [V(v_r_ax)]
        mov [si + 5], ax
        mov ax, [V(v_r_bx)]
        mov [si + 7], ax
        mov ax, [V(v_r_cx)]
        mov [si + 9], ax
        mov ax, [V(v_r_dx)]
        mov [si + 11], ax
        mov cx, 11
        call send_frame
        jc .line
        cmp byte [V(v_r_ax) + 1], 0
        je .ok                          ; a reset: the console's ACK says it is there
        ; first reply
        call receive_reply
        jc .line
        mov al, [V(v_reply) + 6]        ; its AH
        cmp byte [V(v_r_ax) + 1], 3
        je .write
        or al, al
        jnz .refused
        test byte [V(v_reply) + 13], 1
        jnz .refused_carry
        ; the sectors
        mov byte [V(v_sector)], 0
.read_next:
        mov al, [V(v_sector)]
        cmp al, [V(v_r_ax)]
        jae .ok
        call receive_data
        jc .line
        call copy_in
        inc byte [V(v_sector)]
        jmp .read_next

.write:
        cmp al, 3                       ; "send the data"; its carry is the previous reply's
        jne .refused
        mov byte [V(v_sector)], 0
.write_next:
        mov al, [V(v_sector)]
        cmp al, [V(v_r_ax)]
        jae .final
        call copy_out
        mov si, V(v_frame)
        mov cx, 515
        call send_frame
        jc .line
        inc byte [V(v_sector)]
        jmp .write_next
.final:
        call receive_reply
        jc .line
        mov al, [V(v_reply) + 6]
        or al, al
        jnz .refused
        test byte [V(v_reply) + 13], 1
        jnz .refused_carry
.ok:
        xor ah, ah
        clc
        ret
.refused_carry:
        or al, al
        jnz .refused
        mov al, 1
.refused:
        mov ah, al
        or al, 1                        ; ZF clear: no retry
        stc
        ret
.line:
        mov ah, ST_TIMEOUT
        cmp ah, ah                      ; ZF set: try again
        stc
        ret

; Sends the frame at DS:SI (1B 44, a checksum byte, then CX - 1 covered bytes: CX counts the
; bytes after 1B 44) after filling in its checksum, and waits for the answer. CF set for AA,
; any other byte or silence.
send_frame:
        mov byte [si + 2], 0
        push si
        push cx
        add si, 2
        xor ah, ah
.sum:
        sub ah, [si]
        inc si
        loop .sum
        pop cx
        pop si
        mov [si + 2], ah
        add cx, 2
.send:
        lodsb
        call ser_put
        loop .send
        call wait_byte
        jc .bad
        cmp al, ACK
        je .good
.bad:
        stc
        ret
.good:
        clc
        ret

; Receives CX bytes into DS:DI after the header 1B 44, checks the checksum over them and
; answers 55 or AA. CF set for a bad header (no answer), silence, or a bad checksum (AA sent).
receive_frame:
        push cx
        call wait_byte
        pop cx
        jc .bad
        cmp al, ESC
        jne .bad
        push cx
        call wait_byte
        pop cx
        jc .bad
        cmp al, 'D'
        jne .bad
        xor dl, dl
.byte:
        push cx
        call wait_byte
        pop cx
        jc .bad
        mov [di], al
        inc di
        add dl, al
        loop .byte
        or dl, dl
        jnz .nak
        mov al, ACK
        call ser_put
        clc
        ret
.nak:
        mov al, NAK
        call ser_put
.bad:
        stc
        ret

; A reply frame into v_reply (its bytes after 1B 44 at offset 2); it must echo the request's
; AL, CX and DX.
receive_reply:
        mov di, V(v_reply) + 2
        mov cx, 13
        call receive_frame
        jc .end
        mov al, [V(v_reply) + 5]
        cmp al, [V(v_r_ax)]
        jne .wrong
        mov ax, [V(v_reply) + 9]
        cmp ax, [V(v_r_cx)]
        jne .wrong
        mov ax, [V(v_reply) + 11]
        cmp ax, [V(v_r_dx)]
        jne .wrong
        clc
.end:
        ret
.wrong:
        stc
        ret

; A data frame into v_frame (its bytes after 1B 44 at offset 2).
receive_data:
        mov di, V(v_frame) + 2
        mov cx, 515
        jmp receive_frame

; ES:DI the caller's buffer for sector v_sector: the linear address, normalised, so that a
; buffer that runs past the end of its segment does not wrap to its start.
sector_address:
        movzx eax, byte [V(v_sector)]
        shl eax, 9
        add eax, [V(v_buf)]
        mov di, ax
        and di, 0Fh
        shr eax, 4
        mov es, ax
        ret

; The sector of v_frame into the caller's buffer.
copy_in:
        push es
        call sector_address
        mov si, V(v_frame) + 5
        mov cx, 256
        rep movsw
        pop es
        ret

; The caller's sector into a data frame in v_frame.
copy_out:
        push ds
        push es
        call sector_address
        mov si, di
        push ds
        push es
        pop ds
        pop es
        mov di, V(v_frame) + 5
        mov byte [es:di - 5], ESC
        mov byte [es:di - 4], 'D'
        mov word [es:di - 2], 515
        mov cx, 256
        rep movsw
        pop es
        pop ds
        ret

; ---- constants ----
str_clear       db ESC, '[2J', 0
str_bright      db ';1', 0
str_fg          db ';3', 0
str_bg          db ';4', 0
str_swap        db ';7', 0
ansi_digits     db '04261537'

; ESC x and ESC [ x from the console's key strings: scan code, byte.
esc_keys        db 3Bh, '1', 3Ch, '2', 3Dh, '3', 3Eh, '4', 3Fh, '5'
                db 40h, '6', 41h, '7', 42h, '8', 43h, '9', 44h, '0'
                db 85h, '!', 86h, '@', 66h, ':'         ; F11, F12, Ctrl+F9
                db 49h, '?', 51h, '/', 53h, '-'         ; Page Up, Page Down, Delete
                db 0
csi_keys        db 48h, 'A', 50h, 'B', 4Dh, 'C', 4Bh, 'D'
                db 47h, 'H', 4Fh, 'K', 52h, '@'         ; Home, End, Insert
                db 0

; The scan code of each ASCII byte on a US keyboard (control codes: Ctrl and the letter).
ascii_scan:
        db 03h, 1Eh, 30h, 2Eh, 20h, 12h, 21h, 22h, 0Eh, 0Fh, 24h, 25h, 26h, 1Ch, 31h, 18h
        db 19h, 10h, 13h, 1Fh, 14h, 16h, 2Fh, 11h, 2Dh, 15h, 2Ch, 01h, 2Bh, 1Bh, 07h, 0Ch
        db 39h, 02h, 28h, 04h, 05h, 06h, 08h, 28h, 0Ah, 0Bh, 09h, 0Dh, 33h, 0Ch, 34h, 35h
        db 0Bh, 02h, 03h, 04h, 05h, 06h, 07h, 08h, 09h, 0Ah, 27h, 27h, 33h, 0Dh, 34h, 35h
        db 03h, 1Eh, 30h, 2Eh, 20h, 12h, 21h, 22h, 23h, 17h, 24h, 25h, 26h, 32h, 31h, 18h
        db 19h, 10h, 13h, 1Fh, 14h, 16h, 2Fh, 11h, 2Dh, 15h, 2Ch, 1Ah, 2Bh, 1Bh, 07h, 0Ch
        db 29h, 1Eh, 30h, 2Eh, 20h, 12h, 21h, 22h, 23h, 17h, 24h, 25h, 26h, 32h, 31h, 18h
        db 19h, 10h, 13h, 1Fh, 14h, 16h, 2Fh, 11h, 2Dh, 15h, 2Ch, 1Ah, 2Bh, 1Bh, 29h, 0Eh

; Diskette parameter table (INT 13h AH 08h, ES:DI) for 512-byte sectors.
floppy_params   db 0DFh, 02h, 25h, 02h, 18, 1Bh, 0FFh, 54h, 0F6h, 0Fh, 08h

msg_no_image    db 'Quorvik target ROM: no floppy image. Choose one in the console,', 13, 10
                db 'then Disconnect and Connect again.', 13, 10, 0
msg_read_failed db 'Quorvik target ROM: the boot sector could not be read.', 13, 10, 0
msg_not_bootable db 'Quorvik target ROM: the floppy is not bootable.', 13, 10, 0

        times ROM_BLOCKS * 512 - 1 - ($ - $$) db 0
        db 0                            ; checksum, set after assembly
%if DATA + vars_size > MEM_KB * 1024
%error working memory too small
%endif
