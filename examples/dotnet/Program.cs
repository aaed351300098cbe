// SPDX-License-Identifier: Apache-2.0
// Verifies logs or decrypts a container through the QVEHelper package, and
// exits with what qvehelper would: the run's status, the decryption's result.
//   verify PATH...      decrypt INPUT OUTPUT      check INPUT
using QVEHelper;

try
{
    switch (args.FirstOrDefault())
    {
        case "verify" when args.Length > 1:
            // Events as they come, without holding this thread; the last holds the result.
            VerificationResult? run = null;
            await foreach (VerificationEvent found in Verification.EventsAsync(args.Skip(1)))
            {
                run = found.Result ?? run;
            }
            foreach (VerifiedFile file in run!.Files)
            {
                Console.WriteLine($"{file.Verdict} {file.Name}: {file.BlockCount} blocks, {file.BadBlockCount} bad");
            }
            foreach (VerificationWarning warning in run.Warnings)
            {
                Console.Error.WriteLine($"warning: {warning.Path}: {warning.Text}");
            }
            Console.WriteLine($"{run.Status} ({(int)run.Status}): {run.TotalFiles} files, {run.BadFiles} bad");
            return (int)run.Status;
        case "decrypt" when args.Length == 3:
            var progress = new Progress<DecryptProgress>(at => Console.Error.Write($"\r{at.Step} {at.Done}/{at.Total}"));
            Decryptor.Decrypt(args[1], args[2], progress);
            Console.Error.WriteLine();
            Console.WriteLine("Success (0)");
            return 0;
        case "check" when args.Length == 2:
            DecryptResult result = Decryptor.Check(args[1]);
            Console.WriteLine($"{result} ({(int)result})");
            return (int)result;
        default:
            Console.Error.WriteLine("usage: QVEHelperExample verify PATH... | decrypt INPUT OUTPUT | check INPUT");
            return 64;
    }
}
catch (DecryptionException error) when (error.Result != DecryptResult.InputOpenFailed)
{
    Console.WriteLine($"{error.Result} ({(int)error.Result}): {error.Message}");
    return (int)error.Result;
}
catch (Exception error) when (error is IOException or UnauthorizedAccessException)
{
    Console.Error.WriteLine($"QVEHelperExample: {error.Message}");
    return 66; // as qvehelper exits for an input it cannot use
}
