// SPDX-License-Identifier: Apache-2.0
using System;
using System.Runtime.InteropServices;
using System.Text;
using Microsoft.Win32.SafeHandles;

namespace QVEHelper
{
    /// <summary>A verification run of the library, freed with qve_run_free.</summary>
    internal sealed class RunHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        public RunHandle() : base(true) { }

        protected override bool ReleaseHandle()
        {
            Native.qve_run_free(handle);
            return true;
        }
    }

    /// <summary>A container's diagnosis, freed with qve_diagnosis_free.</summary>
    internal sealed class DiagnosisHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        public DiagnosisHandle() : base(true) { }

        protected override bool ReleaseHandle()
        {
            Native.qve_diagnosis_free(handle);
            return true;
        }
    }

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate int ProgressCallback(ulong done, ulong total, int step, IntPtr context);

    [StructLayout(LayoutKind.Sequential)]
    internal struct DecryptOptions
    {
        public UIntPtr Size;
        public IntPtr Progress;
        public IntPtr Context;
        public int KeepUnverified;
        public int ReadStream;
        public int WriteDirectly;
        public IntPtr Loan;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct CheckOptions
    {
        public UIntPtr Size;
        public IntPtr Progress;
        public IntPtr Context;
        public IntPtr ScratchFolder;
        public IntPtr ScratchFolderWide;
        public IntPtr Loan;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct DiagnoseOptions
    {
        public UIntPtr Size;
        public int Decrypt;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct RunOptions
    {
        public UIntPtr Size;
        public int Order;
        public int Strict;
        public uint ExcerptLines;
        public UIntPtr ExcerptLineBytes;
        public int Once;
        public IntPtr Loan;
        public uint MaxUnsignedLines;
        public uint StaleAfterDays;
        public int Accept;
    }

    /// <summary>
    /// The library's C functions. Windows takes paths as UTF-16 through the
    /// _w functions, so that any name a string holds (an unpaired surrogate
    /// too) reaches the file; elsewhere a path is its UTF-8 bytes.
    /// </summary>
    internal static class Native
    {
        internal const string Library = "QVEHelper";
        private const CallingConvention Cdecl = CallingConvention.Cdecl;

        internal static readonly bool Wide = Environment.OSVersion.Platform == PlatformID.Win32NT;

#if NET8_0_OR_GREATER
        static Native()
        {
            NativeLibrary.SetDllImportResolver(typeof(Native).Assembly, (name, assembly, searchPath) =>
            {
                if (name != Library)
                {
                    return IntPtr.Zero;
                }
                string? named = Environment.GetEnvironmentVariable("QVEHELPER_LIBRARY");
                if (!string.IsNullOrEmpty(named))
                {
                    return NativeLibrary.Load(named);
                }
                // The package ships the Linux library under its SONAME, which
                // the runtime's own probing would not try.
                if (!OperatingSystem.IsWindows() &&
                    NativeLibrary.TryLoad("libqvehelper.so.1", assembly, searchPath, out IntPtr loaded))
                {
                    return loaded;
                }
                return IntPtr.Zero;
            });
        }
#endif

        // Paths in, as each system takes them.
        internal static byte[] Utf8Path(string path)
        {
            if (path.IndexOf('\0') >= 0)
            {
                throw new ArgumentException("a path with a NUL character", nameof(path));
            }
            byte[] bytes = new byte[Encoding.UTF8.GetByteCount(path) + 1];
            Encoding.UTF8.GetBytes(path, 0, path.Length, bytes, 0);
            return bytes;
        }

        internal static unsafe string Text(IntPtr text)
        {
            if (text == IntPtr.Zero)
            {
                return "";
            }
            byte* start = (byte*)text;
            int length = 0;
            while (start[length] != 0)
            {
                length++;
            }
            return Encoding.UTF8.GetString(start, length);
        }

        internal static unsafe string Text(IntPtr text, UIntPtr length) =>
            text == IntPtr.Zero ? "" : Encoding.UTF8.GetString((byte*)text, checked((int)length.ToUInt64()));

        // A path the library gives back: on Windows its wide form keeps an
        // unpaired surrogate that a UTF-8 decoder would lose.
        internal static string PathText(IntPtr path)
        {
            if (path == IntPtr.Zero)
            {
                return "";
            }
            if (Wide)
            {
                IntPtr wide = qve_path_w(path);
                if (wide != IntPtr.Zero)
                {
                    return Marshal.PtrToStringUni(wide) ?? "";
                }
            }
            return Text(path);
        }

        internal static byte[]? Bytes(IntPtr data, UIntPtr length)
        {
            if (data == IntPtr.Zero)
            {
                return null;
            }
            byte[] bytes = new byte[checked((int)length.ToUInt64())];
            Marshal.Copy(data, bytes, 0, bytes.Length);
            return bytes;
        }

        internal static UIntPtr SizeOf<T>() where T : struct => (UIntPtr)(uint)Marshal.SizeOf<T>();

        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_result_name(int of, int code);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_path_w(IntPtr path);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_version();
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_last_problem();
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_last_problem_path();
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_last_problem_reason();
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_last_message();

        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_decrypt(byte[] input, byte[] output, ref DecryptOptions options);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true, CharSet = CharSet.Unicode)]
        internal static extern int qve_decrypt_w(string input, string output, ref DecryptOptions options);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_check(byte[] input, ref CheckOptions options);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true, CharSet = CharSet.Unicode)]
        internal static extern int qve_check_w(string input, ref CheckOptions options);

        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_diagnose_container(byte[] path, ref DiagnoseOptions options, out DiagnosisHandle diagnosis);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true, CharSet = CharSet.Unicode)]
        internal static extern int qve_diagnose_container_w(string path, ref DiagnoseOptions options, out DiagnosisHandle diagnosis);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern void qve_diagnosis_free(IntPtr diagnosis);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern ulong qve_diagnosis_size(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_diagnosis_header_status(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_diagnosis_header_status_name(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_diagnosis_header_problem(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern long qve_diagnosis_version(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern long qve_diagnosis_recipient_count(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern ulong qve_diagnosis_payload_length(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_diagnosis_cut_short(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern long qve_diagnosis_key_record(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_diagnosis_key_ready(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_diagnosis_seal_found(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern ulong qve_diagnosis_seal_plaintext_length(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_diagnosis_seal_result(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_diagnosis_seal_problem(DiagnosisHandle d);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_diagnosis_cause(DiagnosisHandle d, int result);

        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_create(ref RunOptions options, out RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern void qve_run_free(IntPtr run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_add(RunHandle run, byte[] path);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true, CharSet = CharSet.Unicode)]
        internal static extern int qve_run_add_w(RunHandle run, string path);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_set_record(RunHandle run, byte[]? bytes, UIntPtr length, int flags);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_next(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern UIntPtr qve_run_event_file(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_event_reading(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_event_path(RunHandle run);

        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_block_verdict(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_block_first_line(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_block_last_line(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern ulong qve_run_block_offset(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_block_id(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_block_text(RunHandle run, out UIntPtr length);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_block_link_matched(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_block_covers_no_line(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_block_parse(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_block_chain(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_block_stop(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_block_link(RunHandle run, out UIntPtr length);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern ulong qve_run_block_signature_length(RunHandle run);

        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_warning_code(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_warning_path(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_warning_text(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_warning_unverified(RunHandle run);

        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern UIntPtr qve_run_file_count(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_file_name(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_file_path(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_file_verdict(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_file_blocks(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_file_bad_blocks(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_file_lines(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_file_first_link(RunHandle run, UIntPtr index, out UIntPtr length);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_file_last_chain_value(RunHandle run, UIntPtr index, out UIntPtr length);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_file_unsigned_first(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_file_unsigned_last(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_file_nul_first_line(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_file_nul_lines(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern ulong qve_run_file_nul_bytes(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_file_end_of_input_line(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern ulong qve_run_file_end_of_input_offset(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern ulong qve_run_file_end_of_input_bytes(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_file_opened(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_file_signature_lines(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_file_changed_while_read(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_file_read_fault(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_file_break_follows(RunHandle run, UIntPtr index);

        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_status(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_result(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_total_files(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_bad_files(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_order(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_longest_block(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern UIntPtr qve_run_strict_count(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_strict_reason(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_strict_path(RunHandle run, UIntPtr index);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_strict_text(RunHandle run, UIntPtr index);

        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_checkpoint(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_point_known(RunHandle run, int point);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_point_file(RunHandle run, int point);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_point_line(RunHandle run, int point);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern uint qve_run_point_id(RunHandle run, int point);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern UIntPtr qve_run_point_file_index(RunHandle run, int point);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_point_chain_value(RunHandle run, int point, out UIntPtr length);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_point_start(RunHandle run, int point, out UIntPtr length);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_point_time(RunHandle run, int point);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_point_grew(RunHandle run, int point);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_checkpoint_starts_later(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_checkpoint_not_recorded(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_checkpoint_history_left(RunHandle run, out uint files, out uint lines);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_checkpoint_shrunk(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern int qve_run_checkpoint_stale(RunHandle run);
        [DllImport(Library, CallingConvention = Cdecl, ExactSpelling = true)]
        internal static extern IntPtr qve_run_record(RunHandle run, out UIntPtr length);
    }
}
