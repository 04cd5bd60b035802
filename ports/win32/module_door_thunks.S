/*
 * The module door's thunks, as templates (32-bit x86). The door copies a
 * template for each way in and patches one number: the operand of the first
 * instruction, `mov edx, RECORD`, becomes the address of the record the thunk
 * serves. Everything else a thunk needs it finds from that address: the
 * record lies in the door's data page, whose first bytes are the header, so
 * `RECORD & -4096` is the header. The templates are position-independent.
 *
 * Header (the data page's first bytes):
 *    0  count: threads counted inside; bit 31 set once the module has gone
 *    4  the module (an address inside it)
 *    8  GetModuleHandleExA     12  FreeLibrary       16  ExitThread
 *   20  SetEvent               24  CloseHandle       28  GetMessageA
 *   32  TranslateMessage       36  DispatchMessageA  40  DestroyWindow
 *   44  UnregisterClassA
 *   48  the window thread's setup and 52 its keyboard handling (the ways in
 *       to both, stdcall with one argument)
 *   56  the module's instance  60  the window thread's windows, 4 words
 *   76  its window classes (atoms), 4 words
 *   92  where the window thread's last steps begin
 * Entry record:
 *    0  target (stdcall)        4  argument bytes
 *    8  answer once gone       12  stand-in once gone (same arguments), or 0
 * Library release record:
 *    0  stop its input, or 0    4  close it, or 0
 *    8  the library             12  event set when done, or 0
 */
        .intel_syntax noprefix
        .text

        .set GONE, 0x80000000
        .set FROM_ADDRESS, 4            /* GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS */

/* ecx: the header. Counts the thread in, or goes to `gone` once the module
 * has gone. Uses eax and edx. */
        .macro COUNT_IN gone
1:      mov eax, [ecx]
        test eax, eax
        js \gone
        lea edx, [eax+1]
        lock cmpxchg [ecx], edx
        jne 1b
        .endm

/* The frame of a way in: ebp, then ebx, esi and edi kept; ebx the record. */
        .macro ENTER_WAY_IN
        push ebp
        mov ebp, esp
        push ebx
        push esi
        push edi
        mov ebx, edx
        .endm

/* Calls the record's target with the caller's arguments again. */
        .macro CALL_TARGET
        mov ecx, [ebx+4]
        sub esp, ecx
        mov edi, esp
        lea esi, [ebp+8]
        shr ecx, 2
        rep movsd
        call dword ptr [ebx]
        .endm

/* Once gone: on to the stand-in with the caller's arguments, or back with
 * the answer; `back` returns eax to the caller, taking its arguments off. */
        .macro TURN_AWAY_OR_RETURN back
        mov eax, [ebx+12]
        test eax, eax
        jnz 6f
        mov eax, [ebx+8]
\back:  mov ecx, [ebx+4]
        lea esp, [ebp-12]
        pop edi
        pop esi
        pop ebx
        pop ebp
        pop edx
        add esp, ecx
        jmp edx
6:      lea esp, [ebp-12]
        pop edi
        pop esi
        pop ebx
        pop ebp
        jmp eax
        .endm

/* Takes a hold on the module into [ebp-slot]; `header` is a register that
 * holds the header and calls keep. On to `gone` when none can be had, to
 * `replaced` when the module went meanwhile and another now lies at its
 * address, the hold being on that one. */
        .macro TAKE_HOLD header, slot, gone, replaced
        lea eax, [ebp-\slot]
        push eax
        push dword ptr [\header+4]
        push FROM_ADDRESS
        call dword ptr [\header+8]     /* GetModuleHandleExA */
        test eax, eax
        jz \gone
        test dword ptr [\header], GONE
        jnz \replaced
        .endm

/* Calls the function at [ebp+8] with the four arguments after it; the frame
 * pointer restores the stack whatever the function took off it. */
        .macro CALL_OUTSIDE frame_bytes
        push dword ptr [ebp+24]
        push dword ptr [ebp+20]
        push dword ptr [ebp+16]
        push dword ptr [ebp+12]
        call dword ptr [ebp+8]
        lea esp, [ebp-\frame_bytes]
        .endm

/*
 * A host's thread, or the window thread: holds a reference on the module
 * while inside, so an unload meanwhile only drops the host's own; the caller
 * that leaves last unloads the module, from here. Gone, or gone while the
 * reference was being taken (the address may by then belong to another
 * module): turned away.
 */
        .globl _halvorn_door_holding_begin, _halvorn_door_holding_end
_halvorn_door_holding_begin:
        mov edx, 0
        ENTER_WAY_IN
        push 0                          /* [ebp-16]: the reference */
        mov esi, ebx
        and esi, -4096
        test dword ptr [esi], GONE
        jnz 8f
        TAKE_HOLD esi, 16, 8f, 7f
        CALL_TARGET
        mov esi, eax
        push dword ptr [ebp-16]
        mov eax, ebx
        and eax, -4096
        call dword ptr [eax+12]         /* FreeLibrary: perhaps the last reference */
        mov eax, esi
        jmp 9f
7:      push dword ptr [ebp-16]
        call dword ptr [esi+12]
8:      TURN_AWAY_OR_RETURN 9
_halvorn_door_holding_end:

/*
 * A thread the module does not hold: the delivery and writing threads and
 * the device library's. Counted in unless the module has gone; the unload
 * waits for the count.
 */
        .globl _halvorn_door_counted_begin, _halvorn_door_counted_end
_halvorn_door_counted_begin:
        mov edx, 0
        ENTER_WAY_IN
        mov ecx, ebx
        and ecx, -4096
        COUNT_IN 8f
        CALL_TARGET
        mov ecx, ebx
        and ecx, -4096
        lock dec dword ptr [ecx]
        jmp 9f
8:      TURN_AWAY_OR_RETURN 9
_halvorn_door_counted_end:

/*
 * A thread of the module's own begins here (its start routine, one
 * argument) and ends here: its last instructions are the door's, never the
 * module's, so it may finish ending after the module has gone.
 */
        .globl _halvorn_door_thread_begin, _halvorn_door_thread_end
_halvorn_door_thread_begin:
        mov edx, 0
        mov ebx, edx                    /* never returns: nothing to keep */
        mov ecx, ebx
        and ecx, -4096
        COUNT_IN 8f
        push dword ptr [esp+4]
        call dword ptr [ebx]
        mov ecx, ebx
        and ecx, -4096
        lock dec dword ptr [ecx]
        push eax
        call dword ptr [ecx+16]         /* ExitThread */
8:      push 0
        call dword ptr [ecx+16]
_halvorn_door_thread_end:

/*
 * A counted thread steps out of the module to call something outside, the
 * host's callback for one (cdecl: function, then four 32-bit arguments it is
 * called with; its result comes back). While outside it is counted out, so
 * an unload need not wait for it; it comes back in only if the module is
 * still there, and otherwise ends here. Patched with the header's address.
 */
        .globl _halvorn_door_counted_step_out_begin, _halvorn_door_counted_step_out_end
_halvorn_door_counted_step_out_begin:
        mov edx, 0
        push ebp
        mov ebp, esp
        push ebx
        mov ebx, edx
        lock dec dword ptr [ebx]
        CALL_OUTSIDE 4
        mov ecx, ebx
        push eax
        COUNT_IN 8f
        pop eax
        pop ebx
        pop ebp
        ret
8:      push 0
        call dword ptr [ecx+16]         /* ExitThread */
_halvorn_door_counted_step_out_end:

/*
 * The window thread steps out of the module (cdecl, as above): to call the
 * host, or while a message box is open. It lets go of its hold on the module
 * meanwhile, so the module may go, even at this very release; it takes hold
 * again on its way back in, and if the module has gone it ends as the
 * window thread ends.
 */
        .globl _halvorn_door_holding_step_out_begin, _halvorn_door_holding_step_out_end
_halvorn_door_holding_step_out_begin:
        mov edx, 0                      /* the header */
        push ebp
        mov ebp, esp
        push ebx
        push esi
        push 0                          /* [ebp-12]: the hold taken back */
        mov ebx, edx
        push dword ptr [ebx+4]
        call dword ptr [ebx+12]         /* FreeLibrary */
        test dword ptr [ebx], GONE
        jnz 8f
        CALL_OUTSIDE 12
        mov esi, eax
        TAKE_HOLD ebx, 12, 8f, 7f
        mov eax, esi
        lea esp, [ebp-8]
        pop esi
        pop ebx
        pop ebp
        ret
7:      push dword ptr [ebp-12]
        call dword ptr [ebx+12]
8:      jmp dword ptr [ebx+92]          /* the window thread's last steps */
_halvorn_door_holding_step_out_end:

/*
 * The plug-in's window thread (its start routine, one argument). Its message
 * loop is here, so the thread is in the module's code only through the door's
 * ways in, each holding the module while inside: an unload never has to wait
 * for it, and it never comes back into code that has gone. Its setup comes
 * first, then the loop, which hands keys to the module's keyboard handling
 * before they are dispatched. It ends on WM_QUIT or once the module has gone,
 * taking down what the module left of its windows and window classes.
 */
        .globl _halvorn_door_window_thread_begin, _halvorn_door_window_thread_end
        .globl _halvorn_door_window_thread_last_steps
_halvorn_door_window_thread_begin:
        mov edx, 0
        mov ebx, edx                    /* never returns: nothing to keep */
        push dword ptr [esp+4]
        call dword ptr [ebx+48]         /* setup: false when it could not */
        test eax, eax
        jz _halvorn_door_window_thread_last_steps
        sub esp, 28                     /* MSG */
        mov esi, esp
1:      push 0
        push 0
        push 0
        push esi
        call dword ptr [ebx+28]         /* GetMessageA */
        test eax, eax
        jz _halvorn_door_window_thread_last_steps
        cmp eax, -1
        je _halvorn_door_window_thread_last_steps
        mov eax, [esi+4]
        sub eax, 0x100                  /* WM_KEYFIRST to WM_KEYLAST */
        cmp eax, 9
        ja 2f
        push esi
        call dword ptr [ebx+52]         /* the keyboard: true when taken */
        test eax, eax
        jnz 3f
2:      push esi
        call dword ptr [ebx+32]         /* TranslateMessage */
        push esi
        call dword ptr [ebx+36]         /* DispatchMessageA */
3:      test dword ptr [ebx], GONE
        jz 1b
_halvorn_door_window_thread_last_steps: /* ebx: the header */
        lea edi, [ebx+60]
        mov esi, 4
4:      mov eax, [edi]
        test eax, eax
        jz 5f
        push eax
        call dword ptr [ebx+40]         /* DestroyWindow */
5:      add edi, 4
        dec esi
        jnz 4b
        lea edi, [ebx+76]
        mov esi, 4
6:      mov eax, [edi]
        test eax, eax
        jz 7f
        push dword ptr [ebx+56]
        push eax
        call dword ptr [ebx+44]         /* UnregisterClassA, by atom */
7:      add edi, 4
        dec esi
        jnz 6b
        push 0
        call dword ptr [ebx+16]         /* ExitThread */
_halvorn_door_window_thread_end:

/*
 * A thread of the door's own, started by an unload: once the loader's lock
 * is free, stops a library's input, closes the device and releases the
 * library. An input that refused the stop may still call into the library,
 * which then stays.
 */
        .globl _halvorn_door_release_begin, _halvorn_door_release_end
_halvorn_door_release_begin:
        mov edx, 0
        mov ebx, edx
        mov edi, edx
        and edi, -4096
        mov esi, 1
        mov eax, [ebx]
        test eax, eax
        jz 1f
        call eax
        movzx esi, al
1:      mov eax, [ebx+4]
        test eax, eax
        jz 2f
        call eax
2:      test esi, esi
        jz 3f
        push dword ptr [ebx+8]
        call dword ptr [edi+12]         /* FreeLibrary */
3:      mov eax, [ebx+12]
        test eax, eax
        jz 4f
        push eax
        call dword ptr [edi+20]         /* SetEvent */
        push dword ptr [ebx+12]
        call dword ptr [edi+24]         /* CloseHandle */
4:      push 0
        call dword ptr [edi+16]         /* ExitThread */
_halvorn_door_release_end:
